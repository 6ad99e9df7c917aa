/* A fresh directory under the system's temporary directory, removed with
 * everything in it when the test ends. */
#ifndef DAEMON_TEST_TEMP_DIR_H
#define DAEMON_TEST_TEMP_DIR_H

#include <string>

class temp_dir {
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

    /* Writes content (any bytes) to name inside the directory; returns the path. */
    std::string write(const std::string &name, const std::string &content) const;

  private:
    std::string path_;
};

bool file_exists(const std::string &path);
std::string read_file(const std::string &path);

#endif
