#include "support/http_server.h"

#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <csignal>
#include <pthread.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string header_value(const std::string &head, const std::string &name) {
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (head.compare(at, name.size(), name) == 0 &&
            head.compare(at + name.size(), 1, ":") == 0) {
            size_t start = head.find_first_not_of(' ', at + name.size() + 1);
            size_t end = head.find("\r\n", start);
            return head.substr(start, end - start);
        }
    }
    return "";
}

void write_all(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace

http_server::http_server(http_handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        pipe2(stop_pipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    // The program runner takes its child's end as SIGCHLD in the test's own
    // thread; the server thread must not take it first and drop it. A new
    // thread starts with its creator's mask.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    thread_ = std::thread([this] { serve(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

http_server::~http_server() {
    char stop = 's';
    (void)!write(stop_pipe_[1], &stop, 1);
    thread_.join();
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
    close(listener_);
}

std::string http_server::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<http_request> http_server::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void http_server::serve() {
    for (;;) {
        pollfd watched[2] = {{listener_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        if (poll(watched, 2, -1) < 0 || (watched[1].revents & POLLIN) != 0) {
            return;
        }
        int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            pollfd readable{connection, POLLIN, 0};
            if (poll(&readable, 1, 5000) <= 0) {
                break;
            }
            ssize_t n = recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            head.append(buffer, static_cast<size_t>(n));
        }
        http_request request;
        size_t first_space = head.find(' ');
        size_t second_space = head.find(' ', first_space + 1);
        if (first_space != std::string::npos && second_space != std::string::npos) {
            request.method = head.substr(0, first_space);
            request.target = head.substr(first_space + 1, second_space - first_space - 1);
            request.authorization = header_value(head, "Authorization");
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            write_all(connection, handler_(request));
        }
        shutdown(connection, SHUT_RDWR);
        close(connection);
    }
}

std::string http_ok(const std::string &body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string http_not_found() {
    return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string http_unauthorized() {
    return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"prov\"\r\n"
           "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string http_cut_short(const std::string &body, size_t declared_length) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(declared_length) +
           "\r\nConnection: close\r\n\r\n" + body;
}

void keep_wget_on_loopback(const std::string &wgetrc_path) {
    for (const char *variable :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"}) {
        unsetenv(variable);
    }
    if (FILE *empty = fopen(wgetrc_path.c_str(), "w")) {
        fclose(empty);
    }
    setenv("WGETRC", wgetrc_path.c_str(), 1);
}
