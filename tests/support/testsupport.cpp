#include "testsupport.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "cdsrc/cdsrc.h"
#include "setup/setup.h"
#include "util/util.h"

static std::string env(const char *name)
{
    const char *v = getenv(name);
    if (!v || !*v) {
        ADD_FAILURE() << "environment variable " << name << " is not set (run the tests through ctest)";
        return "C:\\missing-" + std::string(name);
    }
    return v;
}

static std::string join(const std::string &base, const std::string &rel)
{
    return rel.empty() ? base : base + "\\" + rel;
}

std::string build_path(const std::string &rel) { return join(env("TARNOK_BUILD"), rel); }
std::string media_path(const std::string &rel) { return join(env("TARNOK_MEDIA"), rel); }
std::string peer_path(const std::string &rel) { return join(env("TARNOK_PEERDATA"), rel); }
std::string source_path(const std::string &rel) { return join(env("TARNOK_SOURCE"), rel); }

std::string peer_data_missing()
{
    std::string catalogue = peer_path("expected.tsv");
    if (GetFileAttributesA(catalogue.c_str()) != INVALID_FILE_ATTRIBUTES)
        return "";
    const char *unix = getenv("TARNOK_UNIX_PEERDATA");
    return std::string("no peer data: the archives and images of other projects are expected in ") +
           (unix ? unix : peer_path()) + " (its catalogue expected.tsv), which is ../shared/peerdata beside the " +
           "clone unless cmake is given -DTARNOK_PEERDATA=FOLDER";
}

bool peer_data_required()
{
    const char *v = getenv("TARNOK_REQUIRE_PEERDATA");
    return v && *v && strcmp(v, "0") != 0;
}

std::string exe_dir()
{
    char p[MAX_PATH];
    GetModuleFileNameA(nullptr, p, sizeof p);
    char *s = strrchr(p, '\\');
    if (s)
        *s = 0;
    return p;
}

std::string scratch(const std::string &tag)
{
    const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = t ? std::string(t->test_suite_name()) + "." + t->name() : "global";
    if (!tag.empty())
        name += "." + tag;
    for (char &c : name)
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    std::string dir = build_path("scratch\\" + name);
    delete_tree(dir.c_str());
    make_dirs(dir.c_str());
    return dir;
}

std::string slurp(const std::string &path, bool *ok)
{
    uint64_t size = 0;
    unsigned char *data = read_file(path.c_str(), &size);
    if (ok)
        *ok = data != nullptr;
    std::string s = data ? std::string((const char *)data, (size_t)size) : std::string();
    free(data);
    return s;
}

void spit(const std::string &path, const std::string &data)
{
    ASSERT_EQ(1, write_file(path.c_str(), data.data(), data.size())) << path;
}

void copy_tree(const std::string &from, const std::string &to)
{
    make_dirs(to.c_str());
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((from + "\\*").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << from;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            copy_tree(from + "\\" + name, to + "\\" + name);
        else
            EXPECT_TRUE(CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE)) << name;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

bool file_exists(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool dir_exists(const std::string &path) { return is_dir(path.c_str()) != 0; }

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

static void walk(const std::string &root, const std::string &rel, std::vector<std::string> &out)
{
    for (const std::string &n : list_dir(join(root, rel))) {
        std::string r = rel.empty() ? n : rel + "\\" + n;
        if (dir_exists(join(root, r))) {
            out.push_back(r + "\\");
            walk(root, r, out);
        } else {
            out.push_back(r);
        }
    }
}

std::vector<std::string> list_tree(const std::string &path)
{
    std::vector<std::string> out;
    walk(path, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

std::string compare_trees(const std::string &a, const std::string &b)
{
    std::vector<std::string> ta = list_tree(a), tb = list_tree(b);
    if (ta != tb) {
        for (size_t i = 0; i < std::max(ta.size(), tb.size()); i++) {
            std::string x = i < ta.size() ? ta[i] : "(end)";
            std::string y = i < tb.size() ? tb[i] : "(end)";
            if (x != y)
                return "trees differ at entry " + std::to_string(i) + ": " + x + " vs " + y;
        }
    }
    for (const std::string &r : ta) {
        if (r.back() == '\\')
            continue;
        if (slurp(join(a, r)) != slurp(join(b, r)))
            return "contents differ: " + r;
    }
    return "";
}

std::string log_path()
{
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    return std::string(tmp) + "tarnok_setup.log";
}

void log_reset()
{
    log_close();
    log_open();
}

std::string slurp_shared(const std::string &path)
{
    std::string text;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                           NULL);
    if (f == INVALID_HANDLE_VALUE)
        return text;
    char buf[65536];
    DWORD got;
    while (ReadFile(f, buf, sizeof buf, &got, NULL) && got)
        text.append(buf, got);
    CloseHandle(f);
    return text;
}

// The log file stays open for writing while the test runs.
std::string log_text() { return slurp_shared(log_path()); }

std::vector<std::string> log_lines()
{
    std::string text = log_text();
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int run_process(const std::string &cmdline, const std::string &cwd, unsigned timeout_ms)
{
    std::vector<char> cmd(cmdline.begin(), cmdline.end());
    cmd.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
        return -1;
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, INFINITE);
        code = (DWORD)-2;
    } else {
        GetExitCodeProcess(pi.hProcess, &code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

// Every test process gets a temporary folder of its own, so that parallel
// test programs never share a log file or temporary files.
namespace {
struct PrivateTemp : testing::Environment {
    void SetUp() override
    {
        const char *b = getenv("TARNOK_BUILD");
        if (!b)
            return;
        // Process ids are only unique within one Wine server, and the window
        // tests run under a server of their own: the folder must be new.
        char dir[MAX_PATH];
        fmt(dir, sizeof dir, "%s\\scratch", b);
        make_dirs(dir);
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        for (unsigned n = 0;; n++) {
            fmt(dir, sizeof dir, "%s\\scratch\\tmp-%lu-%llx-%u", b, GetCurrentProcessId(),
                (unsigned long long)t.QuadPart, n);
            if (CreateDirectoryA(dir, NULL))
                break;
            if (n == 1000)
                return;
        }
        SetEnvironmentVariableA("TMP", dir);
        SetEnvironmentVariableA("TEMP", dir);
        fmt(tmp_dir, sizeof tmp_dir, "%s", dir);
    }
    void TearDown() override
    {
        log_close();
        if (tmp_dir[0])
            delete_tree(tmp_dir);
    }
    char tmp_dir[MAX_PATH] = "";
};
const testing::Environment *const private_temp = testing::AddGlobalTestEnvironment(new PrivateTemp);
} // namespace

std::string unix_path(const std::string &win)
{
    std::string u = win.size() >= 2 && win[1] == ':' ? win.substr(2) : win;
    std::replace(u.begin(), u.end(), '\\', '/');
    return u;
}

bool unix_link(const std::string &target, const std::string &link)
{
    run_process("/bin/ln -sfn \"" + unix_path(target) + "\" \"" + unix_path(link) + "\"");
    for (int i = 0; i < 250 && GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(20);
    return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool sparse_file(const std::string &path, uint64_t size)
{
    spit(path, "");
    run_process("/usr/bin/truncate -s " + std::to_string(size) + " \"" + unix_path(path) + "\"");
    WIN32_FILE_ATTRIBUTE_DATA fa = {};
    for (int i = 0; i < 250; i++) {
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa) &&
            (((uint64_t)fa.nFileSizeHigh << 32) | fa.nFileSizeLow) == size)
            return true;
        Sleep(20);
    }
    return false;
}

std::string media_folder_copy(const std::string &rel)
{
    std::string dst = scratch("folder");
    CdSource *f = cd_open(media_path(rel).c_str());
    EXPECT_TRUE(f != nullptr) << rel;
    EXPECT_EQ(1, f ? cd_copy_all(f, dst.c_str(), nullptr) : 0) << rel;
    cd_close(f);
    return dst;
}

std::string file_test_name(std::string file)
{
    for (char &c : file)
        if (c == '.' || c == '-')
            c = '_';
    return file;
}
