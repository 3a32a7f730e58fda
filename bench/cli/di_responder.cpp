// A minimal local device for the command-line figures: every connection gets the digital
// inputs' reply ("DI1=H" ... ) and is closed, from one thread, as fast as the loopback allows.
// Usage: kavrel_di_responder PORT_FILE   (writes its port to PORT_FILE, serves until killed)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ListenLoopback(int *port) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return -1;
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || listen(listener, 1024) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    close(listener);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return listener;
}

void Serve(int c) {
  static const char kReply[] =
      "HTTP/1.0 200 OK\r\nContent-Length: 28\r\nConnection: close\r\n\r\n"
      "DI1=H\r\nDI2=L\r\nDI3=H\r\nDI4=L\r\n";
  char buf[4096];
  size_t got = 0;
  while (got < sizeof(buf)) {
    ssize_t n = recv(c, buf + got, sizeof(buf) - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    if (memmem(buf, got, "\r\n\r\n", 4)) break;
  }
  send(c, kReply, sizeof(kReply) - 1, MSG_NOSIGNAL);
  close(c);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kavrel_di_responder PORT_FILE\n");
    return 2;
  }
  int port = 0;
  int listener = ListenLoopback(&port);
  if (listener < 0) return perror("listen"), 1;
  FILE *f = fopen(argv[1], "w");
  if (!f) return perror(argv[1]), 1;
  fprintf(f, "%d\n", port);
  fclose(f);
  for (;;) {
    int c = accept(listener, nullptr, nullptr);
    if (c >= 0) Serve(c);
  }
}
