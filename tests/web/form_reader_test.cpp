#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>

#include "capture.h"
#include "config/process.h"
#include "config/settings.h"
#include "support/temp_folder.h"
#include "web/cgi_request.h"
#include "web/form_reader.h"

using namespace qarvel;
using qarvel::test::MemoryOut;
using qarvel::test::TempFolder;

namespace {

struct Form {
    Settings s;
    ProcessObjects objects;
    TempFolder folder;
    MemoryOut out;
    Form() {
        cgiRequest().release();
        resetSettings(s, true);
        objects.workingFolder = folder.path;
    }
    ~Form() { cgiRequest().release(); }

    int readMultipartBody(const std::string& body, long long limit = kDefaultUploadLimit) {
        cgiRequest().uploadLimit = limit;
        cgiRequest().upload = 1;
        FILE* in = fmemopen(const_cast<char*>(body.data()), body.size(), "rb");
        const int result = readMultipart(in, static_cast<long long>(body.size()), folder.path, cgiRequest());
        std::fclose(in);
        return result;
    }
    int readPost(const std::string& body, const std::string& length) {
        setenv("CONTENT_LENGTH", length.c_str(), 1);
        cgiRequest().post = 1;
        FILE* in = fmemopen(const_cast<char*>(body.data()), body.size(), "rb");
        const int result = readForm(in, s, objects, cgiRequest(), out.file);
        std::fclose(in);
        unsetenv("CONTENT_LENGTH");
        return result;
    }
    // The names in the files folder.
    std::string listing() const {
        std::string names;
        DIR* dir = opendir(folder.path.c_str());
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names += std::string(entry->d_name) + " ";
        closedir(dir);
        return names;
    }
};

std::string part(const std::string& disposition, const std::string& value, const std::string& type = "") {
    return "--XyZ\r\nContent-Disposition: form-data; " + disposition + "\r\n" +
           (type.empty() ? "" : "Content-Type: " + type + "\r\n") + "\r\n" + value + "\r\n";
}

} // namespace

TEST(FormReader, UrlEncodedFields) {
    Form f;
    const std::string body =
        "qarvel_to=a%40b.c&qarvel_subject=Hi%0D%0ABcc%3A+x%40y.z&qarvel_from=me%40x.y&QARVEL_DATA=line+1%0D%0A"
        "&qarvel_data=a%26b%3Dc&name=Jo+Doe&qarvel_other=ignored&qarvel_mbox=Sent+Items&qarvel_verbose=on"
        "&qarvel_host=mx.example&qarvel_user=u&qarvel_pass=p%25w&last=1xxxxx";
    // The body is read to CONTENT_LENGTH, without a trailing "&".
    EXPECT_EQ(f.readPost(body, std::to_string(body.size() - 5)), kFormOk);
    EXPECT_EQ(f.s.addresses.to.str(), "a@b.c");
    EXPECT_EQ(f.s.content.subject.str(), "HiBcc: x@y.z");
    EXPECT_EQ(f.s.addresses.from.str(), "me@x.y");
    EXPECT_EQ(f.s.content.messageText.str(), "line 1\r\na&b=cname=Jo Doe\r\nlast=1\r\n");
    EXPECT_EQ(f.s.receive.mailbox.str(), "Sent Items");
    EXPECT_EQ(f.s.tools.verbose, 1);
    EXPECT_EQ(f.s.servers.smtpHost.str(), "mx.example");
    EXPECT_EQ(f.s.servers.pop3Host.str(), "mx.example");
    EXPECT_EQ(f.s.receive.user.str(), "u");
    EXPECT_EQ(f.s.receive.password.str(), "p%w");
}

// A form of many fields costs its bytes, not their square: at this size a reader that copies
// the message text for every field would outlast the test's time limit by far.
TEST(FormReader, ManyFieldsAreReadInOnePass) {
    Form f;
    std::string body;
    for (int i = 0; i < 200000; ++i) body += i % 2 ? "qarvel_data=d%0D%0A&" : "f=" + std::to_string(i) + "&";
    ASSERT_EQ(f.readPost(body, std::to_string(body.size())), kFormOk);
    const std::string& text = f.s.content.messageText.str();
    EXPECT_EQ(text.compare(0, 13, "f=0\r\nd\r\nf=2\r\n"), 0);
    EXPECT_EQ(text.size() - text.rfind("f=199998\r\n"), 13u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 200000);
}

TEST(FormReader, OversizedPostIsRefused) {
    Form f;
    cgiRequest().uploadLimit = 10;
    EXPECT_EQ(f.readPost("qarvel_to=a%40b.c", "17"), kFormTooLarge);
    EXPECT_TRUE(f.s.addresses.to.empty());
    writeRefusal(f.out.file, kFormTooLarge, 10);
    EXPECT_EQ(f.out.text().rfind("Status: 413 REQUEST ENTITY TOO LARGE\r\n\r\n<html>", 0), 0u);
}

TEST(FormReader, MultipartFieldsAndUpload) {
    Form f;
    // Binary data that holds pieces of the delimiter, a CR LF and a NUL.
    const std::string data = std::string("\x00\x01\r\n--Xy\r\n-\r\n--XyY-not\xff", 22) + std::string(70000, 'z');
    const std::string body = part("name=\"qarvel_subject\"", "Sub\r\nject") + part("name=\"qarvel_to\"", "a@b.c") +
                             part("name=\"filename\"; filename=\"C:\\Users\\me\\..\\report 1.bin\"", data,
                                  "application/octet-stream") +
                             part("name=\"empty\"; filename=\"\"", "") +
                             part("name=\"qarvel_data\"", "Hello\r\nWorld") + "--XyZ--\r\n";
    ASSERT_EQ(f.readMultipartBody(body), kFormOk);
    CgiRequest& r = cgiRequest();
    ASSERT_FALSE(r.uploadPath.empty());
    EXPECT_EQ(r.uploadName.str(), "report_1.bin");
    // Saved under its own safe name, in a folder of its own inside the files folder.
    EXPECT_EQ(r.uploadPath.filePart().str(), "report_1.bin");
    EXPECT_EQ(r.uploadPath.directoryPart().directoryPart().str(), f.folder.path);
    EXPECT_TRUE(f.folder.read(r.uploadPath.str().substr(f.folder.path.size() + 1)) == data);
    EXPECT_EQ(r.form.value("qarvel_mimetype")->str(), "application/octet-stream");
    EXPECT_EQ(r.form.value("filename")->str(), r.uploadPath.str());

    ASSERT_EQ(readForm(stdin, f.s, f.objects, r, f.out.file), kFormOk);
    EXPECT_EQ(f.out.text(), "\r\n");
    EXPECT_EQ(f.s.content.subject.str(), "Subject");  // the line break is gone
    EXPECT_EQ(f.s.addresses.to.str(), "a@b.c");
    EXPECT_EQ(f.s.content.messageText.str(), "Hello\r\nWorld");
    ASSERT_EQ(f.objects.attachments.size(), 1u);
    EXPECT_EQ(f.objects.attachments[0].name.str(), "report_1.bin");

    r.release();
    EXPECT_EQ(f.listing(), "");  // the upload is removed with the request
}

TEST(FormReader, InlineUploadBecomesText) {
    Form f;
    const std::string body = part("name=\"qarvel_inline\"", "on") + part("name=\"qarvel_data\"", "Intro") +
                             part("name=\"filename\"; filename=\"notes.txt\"", "one\r\ntwo\n", "text/plain") +
                             "--XyZ--\r\n";
    ASSERT_EQ(f.readMultipartBody(body), kFormOk);
    ASSERT_EQ(readForm(stdin, f.s, f.objects, cgiRequest(), f.out.file), kFormOk);
    EXPECT_EQ(f.s.content.messageText.str(), "Intro\r\n\r\none\r\ntwo\r\n");
    EXPECT_TRUE(f.objects.attachments.empty());
}

TEST(FormReader, RefusedAndBrokenUploadsLeaveNothing) {
    const std::string file = part("name=\"filename\"; filename=\"big.bin\"", std::string(5000, 'b'));
    const struct { std::string body; long long limit; int result; } cases[] = {
        {file + "--XyZ--\r\n", 1000, kFormTooLarge},
        {file.substr(0, 3000), kDefaultUploadLimit, kFormMalformed},  // cut off in the file's data
        {"no boundary line\r\n", kDefaultUploadLimit, kFormMalformed},
        {"--XyZ\r\nContent-Type: text/plain\r\n\r\nx\r\n--XyZ--\r\n", kDefaultUploadLimit, kFormMalformed},
    };
    for (const auto& c : cases) {
        Form f;
        EXPECT_EQ(f.readMultipartBody(c.body, c.limit), c.result);
        EXPECT_TRUE(cgiRequest().uploadPath.empty());
        EXPECT_EQ(f.listing(), "");
    }
}
