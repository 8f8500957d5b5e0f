// taDownloadFile against a loopback HTTP server that each test starts with its own behaviour.
#include "tests/fetchel/child_process.h"
#include "download.h"
#include "fetchel.h"
#include "tests/fetchel/download_cases.h"
#include "tests/fetchel/loopback_server.h"
#include "wininet_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>

namespace fs = std::filesystem;
using fetchel_test::Connection;
using fetchel_test::LoopbackServer;
using fetchel_test::Request;

namespace {

// Bytes of every value, the same for the same size and seed.
std::string Body(std::size_t size, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(random() & 0xFF);
    return body;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Serves the same body (and status) for every request.
fetchel_test::Handler Serving(int status, std::string body) {
    return [status, body = std::move(body)](Connection& c, const Request&) {
        c.SendResponse(status, body);
    };
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("fetchel-download-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        unsetenv("FETCHEL_TEST_STALL_MS");
        fs::remove_all(folder_);
    }

    // Runs the download; the error text buffer is exactly as large as the interface promises,
    // with guard bytes after it.
    int Download(const std::string& url, const fs::path& target) {
        std::vector<char> buffer(FETCHEL_ERROR_TEXT_SIZE + 16, '#');
        const int result = taDownloadFile(url.c_str(), target.c_str(), buffer.data(), 0);
        EXPECT_TRUE(std::all_of(buffer.end() - 16, buffer.end(), [](char c) { return c == '#'; }))
            << "the error text ran past " << FETCHEL_ERROR_TEXT_SIZE << " bytes";
        errorText_ = buffer.data();
        return result;
    }

    // The names in the test folder: a failed download leaves no temporary file behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
            names.push_back(entry.path().lexically_relative(folder_).string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A child forked before this process has a server thread: it waits for the URL on a pipe,
    // then ends with body's result. SendUrl sends it and closes the pipe.
    static pid_t ForkWaitingForUrl(int& urlPipe, const std::function<int(const char*)>& body) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        const pid_t child = fork();
        if (child == 0) {
            char url[128] = {};
            _exit(read(fds[0], url, sizeof url - 1) <= 0 ? 2 : body(url));
        }
        close(fds[0]);
        urlPipe = fds[1];
        return child;
    }
    static void SendUrl(int urlPipe, const std::string& url) {
        EXPECT_EQ(write(urlPipe, url.c_str(), url.size()), static_cast<ssize_t>(url.size()));
        close(urlPipe);
    }

    fs::path folder_;
    std::string errorText_;
};

TEST_F(DownloadTest, SuccessReplacesAnExistingFileAndKeepsItsPermissions) {
    const fs::path target = folder_ / "page.html";
    WriteFile(target, "an older and longer version of the page");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    LoopbackServer server(Serving(200, "new"));
    ASSERT_EQ(Download(server.Url("/page.html"), target), 1) << errorText_;
    EXPECT_EQ(ReadFile(target), "new");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(), std::vector<std::string>{"page.html"});
}

TEST_F(DownloadTest, NotFoundTextInTheFirstChunkFailsInAnyLetterCase) {
    const fs::path target = folder_ / "kept.txt";
    WriteFile(target, "previous");
    for (const char* text : {"404 Object Not Found", "404 object not found",
                                   "404 OBJECT nOT fOUND"}) {
        SCOPED_TRACE(text);
        // At the very start, and ending on the chunk's last byte (1003 + 20 = 1023).
        for (const std::size_t at : {std::size_t{0}, std::size_t{1003}}) {
            std::string body(at, 'x');
            body += std::string(text) + std::string(5000, 'y');
            LoopbackServer server(Serving(200, body));
            EXPECT_EQ(Download(server.Url("/missing"), target), 0);
            EXPECT_EQ(errorText_, "File Not Accessable or Does Not Exist");
        }
    }
    EXPECT_EQ(ReadFile(target), "previous");
    EXPECT_EQ(Names(), std::vector<std::string>{"kept.txt"});
}

TEST_F(DownloadTest, NotFoundTextSplitOverManySmallPiecesIsStillFound) {
    // The first chunk is 1023 bytes however the connection cuts the body.
    std::string body(1000, 'x');
    body += "404 object not found";
    body += std::string(100, 'z');
    LoopbackServer server([body](Connection& c, const Request&) {
        c.SendHead(200, body.size());
        for (std::size_t i = 0; i < body.size(); i += 7) {
            c.Send(std::string_view(body).substr(i, 7));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    EXPECT_EQ(Download(server.Url("/slow"), folder_ / "slow.txt"), 0);
    EXPECT_EQ(errorText_, "File Not Accessable or Does Not Exist");
    EXPECT_TRUE(Names().empty());
}

TEST_F(DownloadTest, LocalPathThatIsADanglingLinkCreatesTheFileItPointsTo) {
    // fetchel.dll replaces a dangling link by the file instead, as Windows' own rename does.
    fs::create_directory(folder_ / "real");
    fs::create_symlink("real/new.bin", folder_ / "dangling.bin");
    LoopbackServer server(Serving(200, "fresh"));
    ASSERT_EQ(Download(server.Url("/f"), folder_ / "dangling.bin"), 1) << errorText_;
    EXPECT_TRUE(fs::is_symlink(folder_ / "dangling.bin"));
    EXPECT_EQ(ReadFile(folder_ / "real" / "new.bin"), "fresh");
    EXPECT_EQ(Names(), (std::vector<std::string>{"dangling.bin", "real", "real/new.bin"}));
}

TEST_F(DownloadTest, StallLimitIsSixtySecondsUnlessTestsShortenIt) {
    EXPECT_EQ(fetchel::StallLimit(), std::chrono::seconds(60));
    setenv("FETCHEL_TEST_STALL_MS", "250", 1);
    EXPECT_EQ(fetchel::StallLimit(), std::chrono::milliseconds(250));
    setenv("FETCHEL_TEST_STALL_MS", "soon", 1);
    EXPECT_EQ(fetchel::StallLimit(), std::chrono::seconds(60));
}

TEST_F(DownloadTest, TargetThatCannotBeCreatedFailsWithFileOpenFailed) {
    LoopbackServer server(Serving(200, Body(5000)));
    fs::create_directory(folder_ / "a-folder");
    EXPECT_EQ(Download(server.Url("/f"), folder_ / "a-folder"), 0);
    EXPECT_EQ(errorText_, "File Open Failed");
    EXPECT_EQ(Download(server.Url("/f"), ""), 0);
    EXPECT_EQ(errorText_, "File Open Failed");
    EXPECT_EQ(Names(), std::vector<std::string>{"a-folder"});

    // A name too long for the file system fails as soon as the first chunk is in, not after
    // the whole body (which this server never sends).
    setenv("FETCHEL_TEST_STALL_MS", "5000", 1);
    LoopbackServer endless([](Connection& c, const Request&) {
        c.SendHead(200, 100'000'000);
        c.Send(Body(5000));
        c.Stall(std::chrono::seconds(20));
    });
    EXPECT_EQ(Download(endless.Url("/f"), folder_ / std::string(300, 'n')), 0);
    EXPECT_EQ(errorText_, "File Open Failed");
    EXPECT_EQ(Names(), std::vector<std::string>{"a-folder"});
}

TEST_F(DownloadTest, TemporaryFileOfAKilledDownloadIsRemovedByTheNextOne) {
    int urlPipe = -1;
    const pid_t child = ForkWaitingForUrl(urlPipe, [this](const char* url) {
        char text[FETCHEL_ERROR_TEXT_SIZE];
        return taDownloadFile(url, (folder_ / "big.bin").c_str(), text, 0);
    });
    LoopbackServer server([](Connection& c, const Request& r) {
        if (r.target == "/small") {
            c.SendResponse(200, "small");
            return;
        }
        c.SendHead(200, 100'000'000);
        c.Send(Body(100'000));
        c.Stall(std::chrono::seconds(20));
    });
    SendUrl(urlPipe, server.Url("/big"));
    for (int i = 0; i < 1000 && Names().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::vector<std::string> left = Names();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind("big.bin.part-" + std::to_string(child) + "-", 0), 0u) << left[0];

    // One of a process that still runs (this one's parent) stays.
    const std::string running = "other.bin.part-" + std::to_string(getppid()) + "-0-0123abcd";
    WriteFile(folder_ / running, "in progress");
    ASSERT_EQ(Download(server.Url("/small"), folder_ / "small.bin"), 1) << errorText_;
    EXPECT_EQ(Names(), (std::vector<std::string>{running, "small.bin"}));
}

TEST_F(DownloadTest, AFileTheCallerMayNotWriteIsNotReplacedThroughAWritableFolder) {
    // Another user's file in a folder everyone may write: the rename of a temporary file would
    // replace it. As root the child becomes nobody; otherwise the file is one without write
    // permission for its owner.
    fs::permissions(folder_, fs::perms::all);
    const fs::path target = folder_ / "theirs.bin";
    WriteFile(target, "previous");
    ASSERT_EQ(chmod(target.c_str(), geteuid() == 0 ? 0644 : 0444), 0);
    int urlPipe = -1;
    const pid_t child = ForkWaitingForUrl(urlPipe, [&target](const char* url) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 3;
        char text[FETCHEL_ERROR_TEXT_SIZE];
        const int result = taDownloadFile(url, target.c_str(), text, 0);
        return result == 0 && std::string_view(text) == "File Open Failed" ? 0 : 1;
    });
    LoopbackServer server(Serving(200, "replaced"));
    SendUrl(urlPipe, server.Url("/f"));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(fetchel_test::Outcome(status), 0);
    EXPECT_EQ(ReadFile(target), "previous");
    EXPECT_EQ(Names(), std::vector<std::string>{"theirs.bin"});
}

TEST_F(DownloadTest, RunningOutOfMemoryIsAFailureNotACrash) {
    const std::string longPath = (folder_ / std::string(64 << 20, 'n')).string();
    const int outcome = fetchel_test::RunWithLittleMemory(
        [&longPath] {
            char text[FETCHEL_ERROR_TEXT_SIZE];
            const int result = taDownloadFile("http://127.0.0.1:9/", longPath.c_str(), text, 0);
            return result == 0 && std::string_view(text) == "InternetOpen error code: 8\nMessage: \n" ? 0 : 1;
        },
        32 << 20);
    EXPECT_EQ(outcome, 0) << "99: an exception left the library";
}

// A small disc: a tmpfs where the system allows mounting one (as root), else a file size limit
// for this process, which makes write() fail the same way.
class SmallDisc {
public:
    SmallDisc(const fs::path& folder, std::size_t bytes) : folder_(folder) {
        fs::create_directories(folder_);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &saved_);
            rlimit limited = saved_;
            limited.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &limited);
        }
    }
    ~SmallDisc() {
        if (mounted_) {
            umount(folder_.c_str());
        } else {
            setrlimit(RLIMIT_FSIZE, &saved_);
        }
    }
    bool Mounted() const { return mounted_; }

private:
    fs::path folder_;
    bool mounted_ = false;
    rlimit saved_{};
};

TEST_F(DownloadTest, FullDiscFailsWithFileWriteFailedAndKeepsTheOldFile) {
    const fs::path disc = folder_ / "disc";
    SmallDisc small(disc, 256 * 1024);
    const fs::path target = disc / "kept.bin";
    WriteFile(target, "previous");
    for (const std::size_t size : {std::size_t{2'000'000}, std::size_t{400'000}}) {
        LoopbackServer server(Serving(200, Body(size)));
        EXPECT_EQ(Download(server.Url("/big"), target), 0);
        EXPECT_EQ(errorText_, "File Write Failed") << (small.Mounted() ? "tmpfs" : "rlimit");
        EXPECT_EQ(ReadFile(target), "previous");
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(disc)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"kept.bin"});
}

TEST_F(DownloadTest, ConcurrentCallsFromSeveralThreadsDoNotInterfere) {
    LoopbackServer server([](Connection& c, const Request& r) {
        const std::size_t size = std::stoul(r.target.substr(r.target.rfind('/') + 1));
        if (size % 3 == 0) {
            c.SendResponse(404, "gone");
        } else {
            c.SendResponse(200, Body(size, static_cast<unsigned>(size)));
        }
    });
    constexpr int kThreads = 8;
    constexpr int kEach = 6;
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::size_t size = 1000 + static_cast<std::size_t>(t * 7919 + i * 104729);
                const fs::path target = folder_ / ("t" + std::to_string(t) + "-" + std::to_string(i));
                char text[FETCHEL_ERROR_TEXT_SIZE];
                const int result = taDownloadFile(server.Url("/" + std::to_string(size)).c_str(),
                                                  target.c_str(), text, 0);
                const bool expectFailure = size % 3 == 0;
                const bool right =
                    expectFailure
                        ? result == 0 && std::string(text) == "File Not Accessable or Does Not Exist" &&
                              !fs::exists(target)
                        : result == 1 && text[0] == '\0' &&
                              ReadFile(target) == Body(size, static_cast<unsigned>(size));
                if (!right) ++wrong[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

// The table both builds meet (fetchel.dll's run is in tests/fetchel/wininet).
TEST_F(DownloadTest, EveryCaseOfTheSharedTableEndsAsTheTableSays) {
    LoopbackServer server(fetchel_test::ServeDownloadCase);
    const auto& rows = fetchel_test::DownloadCases();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string target = fetchel_test::PrepareCase(folder_, i);
        if (rows[i].limitMs.empty()) {
            unsetenv("FETCHEL_TEST_STALL_MS");
        } else {
            setenv("FETCHEL_TEST_STALL_MS", rows[i].limitMs.c_str(), 1);
        }
        const int result = Download(fetchel_test::CaseUrl(rows[i], server), target);
        EXPECT_EQ(fetchel_test::Mismatch(folder_, i, result, errorText_), "") << fetchel_test::CaseName(i);
    }
}

TEST(ErrorReport, NeverExceedsTheDocumentedSize) {
    // The longest step name, the longest code and a message longer than any in the table.
    const std::string longMessage(400, 'm');
    char text[fetchel::kErrorReportSize + 8];
    std::memset(text, '#', sizeof text);
    fetchel::WriteErrorReport(text, "InternetReadFile", {-2147483647 - 1, longMessage});
    EXPECT_EQ(std::strlen(text), fetchel::kErrorReportSize - 1);
    EXPECT_EQ(std::string(text).substr(0, 52),
              "InternetReadFile error code: -2147483648\nMessage: mm");
    EXPECT_EQ(text[fetchel::kErrorReportSize], '#');
    static_assert(fetchel::kErrorReportSize == FETCHEL_ERROR_TEXT_SIZE);

    // Every text in the table fits as it is, and a code outside it has no text.
    for (std::int32_t code = 12000; code < 12200; ++code) {
        EXPECT_LE(fetchel::WinInetErrorFromCode(code).message.size(), 255u);
    }
    EXPECT_EQ(fetchel::WinInetErrorFromCode(8).message, "");
    fetchel::WriteErrorReport(text, "InternetOpen", fetchel::WinInetErrorFromCode(8));
    EXPECT_STREQ(text, "InternetOpen error code: 8\nMessage: \n");
}

}  // namespace
