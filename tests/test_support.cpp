#include "test_support.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
    std::size_t offset = 6 + 16 * directory;
    for (const placed& p : images) {
        out.insert(out.end(), p.entry.begin(), p.entry.begin() + 12);
        put_u32(out, static_cast<std::uint32_t>(offset));
        offset += p.image.size();
    }
    out.resize(6 + 16 * directory, 0);
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

scratch_dir::scratch_dir() {
    std::string pattern = ::testing::TempDir() + "icon-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
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

}  // namespace

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const std::function<void()>& in_child) {
    const scratch_dir capture;
    const std::string out_path = capture.file("stdout");
    const std::string err_path = capture.file("stderr");
    // ICON_TEST_WRAPPER, when set, is a command (such as a valgrind call)
    // that each program is run under; its words are split at blanks.
    std::vector<std::string> wrapper;
    if (const char* words = std::getenv("ICON_TEST_WRAPPER")) {
        std::istringstream split(words);
        for (std::string word; split >> word;) wrapper.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& word : wrapper) argv.push_back(word.data());
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (in_child) in_child();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    run_result result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

void expect_inspection(const std::string& program, const bytes& data, const std::string& out,
                       const std::string& err) {
    const scratch_dir dir;
    const std::string path = dir.put("case.ico", data);
    const run_result r = run_program(program, {path});
    EXPECT_EQ(r.out, path + "\n" + out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, 0);
}

memory_stream::memory_stream(const bytes& data) : data_(data) {
    // fmemopen wants a buffer of one byte or more; an empty stream is /dev/null.
    stream_ = data_.empty() ? std::fopen("/dev/null", "rb") : fmemopen(data_.data(), data_.size(), "rb");
    if (stream_ == nullptr) throw std::runtime_error("fmemopen failed");
}

memory_stream::~memory_stream() { std::fclose(stream_); }

}  // namespace icon_test
