// A stream buffer that hands over whole lines, so that what the shell prints can be redrawn,
// prefixed or collected line by line.
#pragma once

#include <functional>
#include <streambuf>
#include <string>
#include <utility>

class LineBuf final : public std::streambuf {
 public:
  explicit LineBuf(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}
  ~LineBuf() override {
    if (!pending_.empty()) sink_(pending_);
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (c == '\n') {
      sink_(pending_);
      pending_.clear();
    } else {
      pending_.push_back(static_cast<char>(c));
    }
    return c;
  }

 private:
  std::function<void(const std::string&)> sink_;
  std::string pending_;
};
