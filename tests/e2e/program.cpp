// Child processes for whole-program tests, with their output in files.
#include "e2e/program.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace ondelle::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ondelle-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

WasapiProgram::WasapiProgram(const TempDir& dir, std::vector<std::string> arguments,
                             const std::string& sim_json)
    : Program(dir, ONDELLE_WASAPI_PATH, std::move(arguments), sim_json) {}

Program::Program(const TempDir& dir, const std::string& executable,
                 std::vector<std::string> arguments, const std::string& sim_json, bool input_pipe) {
    static int serial = 0;
    const std::string tag = std::to_string(++serial);
    out_path_ = dir.path("out" + tag + ".txt");
    err_path_ = dir.path("err" + tag + ".txt");
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::string(*entry).rfind("ONDELLE_SIM=", 0) != 0) environment.emplace_back(*entry);
    if (!sim_json.empty()) {
        const std::string sim_path = dir.path("sim" + tag + ".json");
        write_file(sim_path, sim_json);
        environment.push_back("ONDELLE_SIM=" + sim_path);
    }
    arguments.insert(arguments.begin(), executable);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // A child of its own that dies with the test, even one that ends without its
    // destructors: a program left behind would serve and advertise into later tests.
    int input[2] = {-1, -1};
    if (input_pipe && pipe2(input, O_CLOEXEC) == 0) input_ = input[1];
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Only calls that are safe between fork and exec in a process with threads.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int in = input[0] >= 0 ? input[0] : open("/dev/null", O_RDONLY);
        const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (input[0] >= 0) close(input[0]);
}

void Program::close_input() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

Program::~Program() {
    close_input();
    if (pid_ > 0 && status_ == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string Program::out() const {
    return read_file(out_path_);
}
std::string Program::err() const {
    return read_file(err_path_);
}

namespace {
bool wait_for_text(const std::string& path, const std::string& text,
                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (read_file(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return read_file(path).find(text) != std::string::npos;
}
}  // namespace

bool Program::wait_for_out(const std::string& text, std::chrono::milliseconds timeout) const {
    return wait_for_text(out_path_, text, timeout);
}

bool Program::wait_for_err(const std::string& text, std::chrono::milliseconds timeout) const {
    return wait_for_text(err_path_, text, timeout);
}

int Program::wait_exit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (status_ == -1) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void Program::send_signal(int signal) {
    if (pid_ > 0 && status_ == -1) kill(pid_, signal);
}

long proc_status(pid_t pid, const std::string& key) {
    const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    const auto at = status.find("\n" + key + ":");
    if (at == std::string::npos) return -1;
    return std::atol(status.c_str() + at + key.size() + 2);
}

long wait_for_status(pid_t pid, const std::string& key, long value,
                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    long now = proc_status(pid, key);
    while (now != value && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        now = proc_status(pid, key);
    }
    return now;
}

Finished run_executable(const std::string& executable, const std::vector<std::string>& arguments,
                        const std::string& sim_json) {
    TempDir dir;
    Program program(dir, executable, arguments, sim_json);
    const int code = program.wait_exit(20s);
    return {code, program.out(), program.err()};
}

Finished run_wasapi(const std::vector<std::string>& arguments, const std::string& sim_json) {
    return run_executable(ONDELLE_WASAPI_PATH, arguments, sim_json);
}

}  // namespace ondelle::test
