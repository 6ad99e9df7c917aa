#include "support/tftp_server.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

/* A UDP port on 127.0.0.1 that nothing is bound to right now. */
int free_udp_port() {
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof address;
    int port = 0;
    if (probe >= 0 && bind(probe, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (probe >= 0) {
        close(probe);
    }
    return port;
}

} // namespace

tftp_server::tftp_server(const std::string &directory) {
    port_ = free_udp_port();
    if (port_ == 0 || access("/usr/sbin/in.tftpd", X_OK) != 0) {
        return;
    }
    std::string listen_address = "127.0.0.1:" + std::to_string(port_);
    std::vector<std::string> words = {"/usr/sbin/in.tftpd", "--foreground", "--address",
                                      listen_address,       "--secure",     directory};
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        return;
    }
    // Give the server a moment to bind; the client retries in any case.
    usleep(200 * 1000);
}

tftp_server::~tftp_server() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

std::string tftp_server::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}
