// A second process for sharing tests: runs a function in a forked child that can wait for
// the parent and tell it when it is ready. The child's answer is its exit status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace fendral::test {

class ChildProcess {
 public:
  // `body` runs in the child; true gives exit status 0.
  explicit ChildProcess(const std::function<bool(ChildProcess&)>& body) {
    if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      bool ok = false;
      try {
        ok = body(*this);
      } catch (...) {
        ok = false;
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  ~ChildProcess() { Join(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // In the child: tells the parent it is ready, and waits for the parent's go.
  void TellParent() { Put(toParent_[1]); }
  void WaitForParent() { Get(toChild_[0]); }
  // In the parent.
  void TellChild() { Put(toChild_[1]); }
  void WaitForChild() { Get(toParent_[0]); }
  // The child's exit status (0 when its body answered true); -1 when it failed to run.
  int Join() {
    if (pid_ <= 0) return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    result_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result_;
  }
  int Result() const { return result_; }

 private:
  static void Put(int fd) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(fd, &c, 1);
  }
  static void Get(int fd) {
    char c;
    [[maybe_unused]] auto n = ::read(fd, &c, 1);
  }

  pid_t pid_ = -1;
  int toChild_[2] = {-1, -1};
  int toParent_[2] = {-1, -1};
  int result_ = -1;
};

}  // namespace fendral::test
