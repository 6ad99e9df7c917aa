/* tftpd-hpa serving a directory on 127.0.0.1 for the TFTP download tests. */
#ifndef DAEMON_TEST_TFTP_SERVER_H
#define DAEMON_TEST_TFTP_SERVER_H

#include <string>
#include <sys/types.h>

class tftp_server {
  public:
    /* Serves the files of directory; started() tells whether the server
     * program could be run at all. */
    explicit tftp_server(const std::string &directory);
    ~tftp_server();
    tftp_server(const tftp_server &) = delete;
    tftp_server &operator=(const tftp_server &) = delete;

    bool started() const { return pid_ > 0; }
    /* "127.0.0.1:PORT", the server text the TFTP client takes. */
    std::string address() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

#endif
