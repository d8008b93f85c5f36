// SyncRound: the outputs of a round of messages synced, named and synced again.
#include "base/sync_round.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <utility>
#include <thread>
#include <unistd.h>

#include "base/paths.h"

namespace qarvel {

void runTogether(const std::vector<std::function<void()>>& jobs, size_t width) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < jobs.size();) jobs[i]();
    };
    std::vector<std::thread> helpers;
    for (size_t k = 1; k < width && k < jobs.size(); ++k) helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers) t.join();
}

namespace {

std::string where(const StagedFile& file) {
    const String& entry = file.committed() ? file.name() : file.tempName();
    return joinPath(file.folder() ? file.folder()->path() : String(), entry).str();
}

std::string failure(const std::string& what, int error) {
    return what + ": " + std::strerror(error ? error : EIO);
}

} // namespace

size_t SyncRound::begin() { return items_++; }

void SyncRound::addFile(StagedFile file, Place place) {
    files_.push_back({items_ ? items_ - 1 : 0, std::move(file), std::move(place)});
}

void SyncRound::touch(SharedOutput& output) {
    const size_t item = items_ ? items_ - 1 : 0;
    for (const Touch& t : touched_)
        if (t.item == item && t.output == &output) return;
    touched_.push_back({item, &output});
}

void SyncRound::fail(std::vector<Outcome>& outcomes, size_t item, const std::string& reason) const {
    if (item >= outcomes.size() || !outcomes[item].durable) return;
    outcomes[item].durable = false;
    outcomes[item].reason = reason;
}

std::vector<SyncRound::Outcome> SyncRound::settle() {
    std::vector<Outcome> outcomes(items_);

    // 1. Every new file to the disk under its temporary name, several at a time.
    std::vector<std::function<void()>> jobs;
    for (File& f : files_) jobs.push_back([&f] { f.synced = f.file.sync(); });
    runTogether(jobs);
    for (File& f : files_)
        if (!f.synced) fail(outcomes, f.item, failure(where(f.file), f.file.error()));

    // 2. The names, in the order the files came, so that a later file of the same name
    // replaces an earlier one as it would have without the round. Nothing of an item that
    // failed gets a name.
    for (File& f : files_) {
        if (outcomes[f.item].durable && f.place(f.file)) continue;
        if (outcomes[f.item].durable) fail(outcomes, f.item, where(f.file) + ": could not be named");
        f.file.discard();
    }

    // 3. The folders that gained a name, each once (however many handles it was opened by);
    // then the shared outputs, each once.
    std::map<std::pair<dev_t, ino_t>, std::pair<const FolderHandle*, int>> folders;
    auto key = [](const FolderHandle* folder) {
        struct stat st {};
        fstat(folder->fd(), &st);
        return std::make_pair(st.st_dev, st.st_ino);
    };
    std::vector<std::pair<dev_t, ino_t>> keys(files_.size());
    for (size_t i = 0; i < files_.size(); ++i) {
        if (!files_[i].file.committed()) continue;
        keys[i] = key(files_[i].file.folder());
        folders.emplace(keys[i], std::make_pair(files_[i].file.folder(), 0));
    }
    std::map<SharedOutput*, int> shared;
    for (const Touch& t : touched_) shared.emplace(t.output, 0);
    jobs.clear();
    for (auto& entry : folders) {
        auto& [folder, error] = entry.second;
        jobs.push_back([folder = folder, &error = error] { error = ::fsync(folder->fd()) == 0 ? 0 : errno; });
    }
    for (auto& [output, error] : shared) jobs.push_back([output = output, &error = error] { error = output->sync(); });
    runTogether(jobs);
    for (size_t i = 0; i < files_.size(); ++i) {
        const File& f = files_[i];
        if (!f.file.committed()) continue;
        if (int error = folders[keys[i]].second) fail(outcomes, f.item, failure(f.file.folder()->path().str(), error));
    }
    for (const Touch& t : touched_)
        if (int error = shared[t.output]) fail(outcomes, t.item, failure(t.output->describe(), error));
    for (auto& [output, error] : shared)
        if (error) output->takeBack();

    // 4. What an item that did not come through left under a name is taken away.
    for (File& f : files_)
        if (!outcomes[f.item].durable && f.file.committed()) f.file.withdraw();

    files_.clear();
    touched_.clear();
    items_ = 0;
    return outcomes;
}

}  // namespace qarvel
