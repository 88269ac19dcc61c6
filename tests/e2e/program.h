// Runs the project's built executables as child processes with a simulated machine, their
// standard output and error kept in files, every wait bounded in time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace ondelle::test {

using namespace std::chrono_literals;

// A folder of its own for one test: the simulation file, captures, logs.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// A TCP port nobody listens on now.
int free_port();

class Program {
  public:
    // Starts executable with arguments; sim_json, when not empty, becomes its ONDELLE_SIM.
    // With input_pipe its standard input is a pipe that stays open until close_input;
    // otherwise it reads nothing.
    Program(const TempDir& dir, const std::string& executable, std::vector<std::string> arguments,
            const std::string& sim_json = "", bool input_pipe = false);
    ~Program();  // kills what still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    std::string out() const;
    std::string err() const;
    bool wait_for_out(const std::string& text, std::chrono::milliseconds timeout = 10s) const;
    bool wait_for_err(const std::string& text, std::chrono::milliseconds timeout = 10s) const;
    // The exit code, or -1 when it does not end in time (or ended by a signal).
    int wait_exit(std::chrono::milliseconds timeout = 10s);
    void send_signal(int signal);
    void close_input();
    pid_t pid() const { return pid_; }

  private:
    std::string out_path_;
    std::string err_path_;
    pid_t pid_ = -1;
    int status_ = -1;
    int input_ = -1;  // the write end of the program's standard input, with input_pipe
};

// The built ondelle-wasapi.
class WasapiProgram : public Program {
  public:
    WasapiProgram(const TempDir& dir, std::vector<std::string> arguments,
                  const std::string& sim_json = "");
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' runtimes reserve terabytes of address space and keep freed memory in
// quarantine: address-space caps and resident-memory figures mean nothing under them.
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif

// A number from /proc/PID/status ("Threads", "VmRSS" in kB, ...); -1 when absent.
long proc_status(pid_t pid, const std::string& key);

// Waits until that number reads value (threads that end take a moment to go); the last
// reading.
long wait_for_status(pid_t pid, const std::string& key, long value,
                     std::chrono::milliseconds timeout = 5s);

// Runs to its end: {exit code, standard output, standard error}.
struct Finished {
    int code;
    std::string out;
    std::string err;
};
Finished run_wasapi(const std::vector<std::string>& arguments, const std::string& sim_json = "");
Finished run_executable(const std::string& executable, const std::vector<std::string>& arguments,
                        const std::string& sim_json = "");

}  // namespace ondelle::test
