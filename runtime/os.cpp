#include "runtime/os.h"

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <unistd.h>


#ifndef KIV_BUILD_DATE
#define KIV_BUILD_DATE "1-Jan-2026/00:00:00"
#endif

namespace kiv::os {

bool write_all(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

std::string current_dir() {
  std::string path(256, '\0');
  while (::getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    path.resize(path.size() * 2);
  }
  path.resize(std::char_traits<char>::length(path.c_str()));
  return path;
}

bool set_current_dir(const char* path) { return ::chdir(path) == 0; }

bool set_env(const char* name, const char* value) {
  if (!value) return ::unsetenv(name) == 0;
  return ::setenv(name, value, 1) == 0;
}

std::optional<std::string> get_env(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::vector<std::pair<std::string, std::string>> environment() {
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const size_t equals = text.find('=', 1);
    if (equals == std::string_view::npos) variables.emplace_back(std::string(text), std::string());
    else variables.emplace_back(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  return variables;
}

int64_t sleep_millis(double seconds) {
  const double millis = seconds * 1000.0;
  if (!(millis >= 1.0)) return 1;
  if (millis >= 9.0e15) return static_cast<int64_t>(9.0e15);
  return static_cast<int64_t>(millis);
}

void sleep(double seconds) {
  const int64_t millis = sleep_millis(seconds);
  timespec wait{static_cast<time_t>(millis / 1000), static_cast<long>(millis % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

double now_seconds(bool precise) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  double seconds = static_cast<double>(now.tv_sec % 86400);
  if (precise) seconds += static_cast<double>(now.tv_nsec) / 1e9;
  return seconds;
}

uint32_t zone_code(int offset_minutes) {
  const int magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  uint32_t hours = static_cast<uint32_t>(magnitude / 60) & 0x0F;
  if (offset_minutes < 0) hours |= 0x10;
  // Quarters count from the magnitude, so that -3:45 stays -3:45.
  const uint32_t quarters = static_cast<uint32_t>((magnitude % 60) / 15) & 0x3;
  return (hours << 2) | quarters;
}

uint32_t pack_date(int year, int month, int day, uint32_t zone) {
  return (static_cast<uint32_t>(year) << 17) | (static_cast<uint32_t>(month) << 12) |
         (static_cast<uint32_t>(day) << 7) | (zone & 0x7F);
}

uint32_t now_date(bool utc) {
  const time_t now = ::time(nullptr);
  tm fields{};
  if (utc) {
    ::gmtime_r(&now, &fields);
    return pack_date(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, 0);
  }
  ::localtime_r(&now, &fields);
  const int offset_minutes = static_cast<int>(fields.tm_gmtoff / 60);
  return pack_date(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, zone_code(offset_minutes));
}

Moment now_moment(bool utc) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm fields{};
  if (utc) ::gmtime_r(&now.tv_sec, &fields);
  else ::localtime_r(&now.tv_sec, &fields);
  return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min,
          std::min(fields.tm_sec, 59), now.tv_nsec, utc ? 0 : static_cast<int>(fields.tm_gmtoff / 60)};
}

const char* build_date() { return KIV_BUILD_DATE; }

}  // namespace kiv::os
