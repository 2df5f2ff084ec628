#include "test_support.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace icon_test {

placed image_of(const bytes& file, std::size_t index) {
    const std::size_t at = entry_at(index);
    placed p{bytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + 16)), {}};
    const std::size_t size = u32_at(file, at + 8);
    const std::size_t offset = u32_at(file, at + 12);
    for (std::size_t i = 0; i < size; ++i) p.image.push_back(offset + i < file.size() ? file[offset + i] : 0);
    return p;
}

bytes bundle_of(const std::vector<placed>& images) { return bundle_of(images, images.size()); }

bytes bundle_of(const std::vector<placed>& images, std::size_t directory) {
    bytes out;
    put_u16(out, 0);
    put_u16(out, 1);
    put_u16(out, static_cast<std::uint16_t>(directory));
    std::size_t offset = entry_at(directory);
    for (const placed& p : images) {
        out.insert(out.end(), p.entry.begin(), p.entry.begin() + 12);
        put_u32(out, static_cast<std::uint32_t>(offset));
        offset += p.image.size();
    }
    out.resize(entry_at(directory), 0);
    for (const placed& p : images) out.insert(out.end(), p.image.begin(), p.image.end());
    return out;
}

bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void write_file(const std::string& path, const std::string& text) {
    write_file(path, bytes(text.begin(), text.end()));
}

scratch_dir::scratch_dir() : path_(new_folder(::testing::TempDir(), "icon-test-")) {
    if (path_.empty()) throw std::runtime_error("no scratch folder could be made");
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string scratch_dir::put(const std::string& name, const bytes& data) const {
    std::string where = file(name);
    write_file(where, data);
    return where;
}

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The line that holds byte `at`, without its line end.
std::string line_at(const std::string& text, std::size_t at) {
    const std::size_t start = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
    const std::size_t end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The words of a command held in a string, split at blanks.
std::vector<std::string> words_of(const char* command) {
    std::vector<std::string> words;
    if (command == nullptr) return words;
    std::istringstream split(command);
    for (std::string word; split >> word;) words.push_back(word);
    return words;
}

}  // namespace

::testing::AssertionResult same_text(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    const auto [differs, ignored] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    const auto at = static_cast<std::size_t>(differs - got.begin());
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "texts differ in line " << line_count(got.substr(0, at)) + 1 << " (byte " << at << ")\n"
            << "  got:    \"" << line_at(got, at) << "\"\n"
            << "  wanted: \"" << line_at(want, at) << "\"\n"
            << "got " << got.size() << " bytes in " << line_count(got) << " lines, wanted " << want.size()
            << " bytes in " << line_count(want) << " lines";
    constexpr std::size_t shown_whole = 40;
    if (line_count(got) <= shown_whole && line_count(want) <= shown_whole)
        failure << "\n--- got:\n" << got << "--- wanted:\n" << want;
    return failure;
}

namespace {

#ifdef _WIN32

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

// One argument as the C runtime's start-up splits a command line: quoted
// when it holds a blank or a quote (or nothing), with backslashes doubled
// where they come before a quote. Wildcards stay unquoted, for the
// runtime's expansion to see.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

enum class opening { read, write, append };

HANDLE inheritable(const std::string& path, opening how) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const DWORD access = how == opening::read    ? GENERIC_READ
                         : how == opening::write ? GENERIC_WRITE
                                                 : FILE_APPEND_DATA;
    const DWORD disposition = how == opening::read    ? OPEN_EXISTING
                              : how == opening::write ? CREATE_ALWAYS
                                                      : OPEN_ALWAYS;
    return CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts argv[0] with the three standard handles given (a closed stream has
// none) and answers its exit code, or 127 when it cannot be started.
int start_and_wait(const std::vector<std::string>& argv, const run_options& options,
                   const std::string& out_path, const std::string& err_path) {
    std::string command;
    for (const std::string& word : argv) {
        if (!command.empty()) command += ' ';
        command += quoted(word);
    }
    std::wstring command_line = wide(command);
    // Wine cuts longer command lines short where Windows refuses them.
    if (command_line.size() > 32767) {
        ADD_FAILURE() << "a command line of " << command_line.size() << " characters; Windows takes 32,767";
        return 127;
    }
    const opening writing = options.append ? opening::append : opening::write;
    HANDLE handles[3] = {inheritable(null_device, opening::read), inheritable(out_path, writing),
                         inheritable(err_path, writing)};
    for (HANDLE h : handles)
        if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a standard stream's file");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE* const standard[3] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    for (int i = 0; i < 3; ++i) *standard[i] = i == options.closed ? nullptr : handles[i];
    PROCESS_INFORMATION process{};
    const std::wstring application = wide(argv[0]);
    const std::wstring folder = wide(options.cwd);
    const BOOL started =
        CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    for (HANDLE h : handles) CloseHandle(h);
    if (!started) return 127;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 127;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// Text written in text mode: CR LF ends every line. Answers it with LF alone.
std::string text_mode_lines(const std::string& text, const char* stream) {
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ADD_FAILURE() << stream << ": a line end without CR at byte " << i;
        lines.push_back(text[i]);
    }
    return lines;
}

#else

// Starts argv[0] (searched in PATH) in a child with its standard streams on
// the files given and answers its exit status; 127 when it cannot be started.
int start_and_wait(const std::vector<std::string>& argv, const run_options& options,
                   const std::string& out_path, const std::string& err_path) {
    std::vector<char*> pointers;
    for (const std::string& word : argv) pointers.push_back(const_cast<char*>(word.c_str()));
    pointers.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open(null_device.c_str(), O_RDONLY);
        const int writing = O_WRONLY | O_CREAT | (options.append ? O_APPEND : O_TRUNC);
        const int out = open(out_path.c_str(), writing, 0600);
        const int err = open(err_path.c_str(), writing, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (options.closed >= 0) close(options.closed);
        if (options.in_child) options.in_child();
        execvp(pointers[0], pointers.data());
        _exit(127);
    }
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

#endif

}  // namespace

bool under_wine() {
#ifdef _WIN32
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

bool programs_run_emulated() {
#ifdef ICON_TARGET_EMULATOR
    return true;
#else
    return false;
#endif
}

std::vector<std::string> command_of(const std::string& program, const std::vector<std::string>& args,
                                    bool host_tool) {
    // ICON_TEST_WRAPPER, when set, is a command (such as a valgrind call)
    // that each program is run under.
    std::vector<std::string> argv;
    if (!host_tool) {
        argv = words_of(std::getenv("ICON_TEST_WRAPPER"));
#ifdef ICON_TARGET_EMULATOR
        for (const std::string& word : words_of(ICON_TARGET_EMULATOR)) argv.push_back(word);
#endif
    }
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options) {
    const scratch_dir capture;
    const std::string out_path = options.out_file.empty() ? capture.file("stdout") : options.out_file;
    const std::string err_path = options.err_file.empty() ? capture.file("stderr") : options.err_file;
    const std::vector<std::string> argv = command_of(program, args, options.host_tool);
#ifdef _WIN32
    if (options.in_child) throw std::logic_error("in_child runs only on POSIX");
#endif
    run_result result;
    result.status = start_and_wait(argv, options, out_path, err_path);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
#ifdef _WIN32
    if (!options.host_tool) {
        result.out = text_mode_lines(result.out, "standard output");
        result.err = text_mode_lines(result.err, "standard error");
    }
#endif
    return result;
}

void expect_inspection(const std::string& program, const bytes& data, const std::string& out,
                       const std::string& err) {
    const scratch_dir dir;
    const std::string path = dir.put("case.ico", data);
    const run_result r = run_program(program, {path});
    EXPECT_TRUE(same_text(r.out, path + "\n" + out));
    EXPECT_TRUE(same_text(r.err, err));
    EXPECT_EQ(r.status, 0);
}

memory_stream::memory_stream(const bytes& data) : data_(data), stream_(open_bytes(data_)) {
    if (stream_ == nullptr) throw std::runtime_error("no stream over the bytes");
}

memory_stream::~memory_stream() { std::fclose(stream_); }

}  // namespace icon_test
