// The -encode:base64 and -decode:base64 filters, standard input to standard output.
#include "base/base64_filter.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/base64.h"

namespace qarvel {

namespace {

// 256 KiB reads, four of them in flight: small enough that a block is still in the shared cache
// when the coder reaches it, large enough that the hand-over between the threads costs little
// (64 KiB blocks took 10 % more CPU). Mapping the file measured far slower: the coder then reads
// page-cache pages that no copy has brought into the cache. A multiple of 57 is not needed: the
// encoder keeps state.
constexpr size_t kBlock = 1 << 18;

// Writes straight to the descriptor, bypassing stdio buffering of the large blocks.
class DescriptorSink : public ByteSink {
public:
    explicit DescriptorSink(int fd) : fd_(fd) {}
    void write(const char* bytes, size_t count) override {
        while (count > 0 && !failed_) {
            ssize_t n = ::write(fd_, bytes, count);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failed_ = true;
                break;
            }
            bytes += n;
            count -= static_cast<size_t>(n);
        }
    }
    bool failed() const { return failed_; }

private:
    int fd_;
    bool failed_ = false;
};

// Reads the input on a second thread, a few blocks ahead of the coder, so that the copy out of
// the page cache (or the wait for a pipe) runs on one core while the other codes and writes.
// The blocks and counters are shared with the thread: a coder that stops early (its output
// failed) leaves a thread still waiting in read() behind, to end with the process.
class ReadAhead {
public:
    explicit ReadAhead(int fd) : state_(std::make_shared<State>()), thread_(run, state_, fd) {}
    ~ReadAhead() {
        bool ended;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->stop = true;
            ended = state_->ended;
        }
        state_->changed.notify_all();
        if (ended) thread_.join();
        else thread_.detach();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block, valid until the next call; false at the end of the input or after a
    // failed read (error() then holds its errno).
    bool next(const char*& data, size_t& length) {
        State& s = *state_;
        std::unique_lock<std::mutex> lock(s.mutex);
        if (holding_) {
            ++s.taken;
            holding_ = false;
            s.changed.notify_all();
        }
        s.changed.wait(lock, [&s] { return s.filled > s.taken || s.ended; });
        if (s.filled == s.taken) return false;
        const Slot& slot = s.slots[s.taken % kSlots];
        data = slot.bytes.data();
        length = slot.length;
        holding_ = true;
        return true;
    }
    int error() const {
        std::lock_guard<std::mutex> lock(state_->mutex);
        return state_->error;
    }

private:
    static constexpr size_t kSlots = 4;
    struct Slot {
        std::vector<char> bytes = std::vector<char>(kBlock);
        size_t length = 0;
    };
    struct State {
        std::array<Slot, kSlots> slots;
        std::mutex mutex;
        std::condition_variable changed;
        size_t filled = 0, taken = 0;  // blocks read, and handed back by the coder
        bool ended = false, stop = false;
        int error = 0;
    };

    static void run(std::shared_ptr<State> state, int fd) {
        State& s = *state;
        for (;;) {
            size_t index;
            {
                std::unique_lock<std::mutex> lock(s.mutex);
                s.changed.wait(lock, [&s] { return s.filled - s.taken < kSlots || s.stop; });
                if (s.stop) return;
                index = s.filled % kSlots;  // never the block the coder holds
            }
            Slot& slot = s.slots[index];
            ssize_t n;
            do n = ::read(fd, slot.bytes.data(), slot.bytes.size());
            while (n < 0 && errno == EINTR);
            std::lock_guard<std::mutex> lock(s.mutex);
            if (n <= 0) {
                s.error = n < 0 ? errno : 0;
                s.ended = true;
                s.changed.notify_all();
                return;
            }
            slot.length = static_cast<size_t>(n);
            ++s.filled;
            s.changed.notify_all();
        }
    }

    std::shared_ptr<State> state_;
    bool holding_ = false;  // the coder has block state_->taken
    std::thread thread_;
};

template <typename Codec>
int runFilter(std::FILE* in, std::FILE* out, const char* what) {
    std::fflush(out);
    DescriptorSink sink(fileno(out));
    Codec codec(sink);
    ReadAhead input(fileno(in));
    const char* data;
    size_t length;
    while (!sink.failed() && input.next(data, length)) codec.put(data, length);
    if (input.error()) {
        std::fprintf(stderr, "%s: read error: %s\n", what, std::strerror(input.error()));
        return 1;
    }
    codec.finish();
    if (sink.failed()) {
        std::fprintf(stderr, "%s: write error: %s\n", what, std::strerror(errno));
        return 1;
    }
    return 0;
}

struct Encoder : Base64Encoder {
    explicit Encoder(ByteSink& sink) : Base64Encoder(sink, 76) {}
};
struct Decoder : Base64Decoder {
    explicit Decoder(ByteSink& sink) : Base64Decoder(sink) {}
};

}  // namespace

int encodeBase64Filter(std::FILE* in, std::FILE* out) { return runFilter<Encoder>(in, out, "base64 encode"); }

int decodeBase64Filter(std::FILE* in, std::FILE* out) { return runFilter<Decoder>(in, out, "base64 decode"); }

}  // namespace qarvel
