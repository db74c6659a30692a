#include "platform/linux/LinuxTermination.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

namespace {
int requestPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const int saved = errno;
  const char request = 1;
  if (write(requestPipe[1], &request, 1) < 0) {
    // Full pipe: a request is already pending.
  }
  errno = saved;
}
} // namespace

int terminationRequests() {
  if (requestPipe[0] >= 0)
    return requestPipe[0];
  if (pipe2(requestPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return -1;
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGHUP, SIGINT})
    if (sigaction(signal, &action, nullptr) != 0)
      return -1;
  return requestPipe[0];
}
