/* A small HTTP server on 127.0.0.1 for the download tests: one connection
 * at a time, every request kept, every answer made by the test. */
#ifndef DAEMON_TEST_HTTP_SERVER_H
#define DAEMON_TEST_HTTP_SERVER_H

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct http_request {
    std::string method;
    std::string target;        /* as sent, percent escapes included */
    std::string authorization; /* the Authorization header's value, or empty */
};

/* Raw bytes written back for one request; the connection closes after them. */
using http_handler = std::function<std::string(const http_request &)>;

/* Makes the real wget talk to the test server directly, whatever the
 * machine's proxy settings or start-up file say: proxies are dropped from the
 * environment and WGETRC points at an empty file written at wgetrc_path. */
void keep_wget_on_loopback(const std::string &wgetrc_path);

class http_server {
  public:
    explicit http_server(http_handler handler);
    ~http_server();
    http_server(const http_server &) = delete;
    http_server &operator=(const http_server &) = delete;

    /* "http://127.0.0.1:PORT" */
    std::string url() const;
    std::vector<http_request> requests() const;

  private:
    void serve();

    http_handler handler_;
    int listener_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<http_request> requests_;
    std::thread thread_;
};

std::string http_ok(const std::string &body);
std::string http_not_found();
std::string http_unauthorized();
/* Announces declared_length bytes but sends only body, then closes. */
std::string http_cut_short(const std::string &body, size_t declared_length);

#endif
