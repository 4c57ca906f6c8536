// The clipboard as the runtime sees it: a host that holds pieces of data,
// each under a MIME type, and that one reader or writer takes at a time.
//
// The display host (the GUI backend) puts the desktop's clipboard behind
// this interface with set_host. Until one does, and in every process that
// runs without a display, the clipboard is the process's own: what it
// writes it reads back, and no other program sees it.
//
// The types the runtime uses (clipboard.h maps values to them):
//   text/plain;charset=utf-8    text, LF line ends, no terminating NUL
//   text/uri-list               files: file:// URIs, each line ended by CR LF
//   image/png, image/jpeg, image/gif
//                               encoded images
//   image/bmp                   a BMP file whose info header is a 124-byte
//                               V5 header (32-bit BGRA with alpha)
// No Kiv values cross this interface, so a host may keep the data past the
// call (the desktop asks for it when another program pastes).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::clipboard {

inline constexpr std::string_view text_type = "text/plain;charset=utf-8";
inline constexpr std::string_view files_type = "text/uri-list";
inline constexpr std::string_view png_type = "image/png";
inline constexpr std::string_view jpeg_type = "image/jpeg";
inline constexpr std::string_view gif_type = "image/gif";
inline constexpr std::string_view bmp_type = "image/bmp";

struct Item {
  std::string type;
  std::string bytes;
};

// What a read of one type found.
struct Fetched {
  enum class State { absent, unreadable, present } state = State::absent;
  std::string bytes;
};

class Host {
 public:
  virtual ~Host() = default;
  // Takes the clipboard for one read or write; false while it cannot be
  // had (another program holds it).
  virtual bool open() = 0;
  virtual void close() = 0;
  // Lets the host answer what waits for it between two tries to open (the
  // desktop's requests to the window that holds the clipboard).
  virtual void pump() {}
  // While open: the data offered under `type`.
  virtual Fetched fetch(std::string_view type) = 0;
  // While open: replaces all the data with `items` (none: empties the
  // clipboard); false when the host could not take them.
  virtual bool replace(std::vector<Item> items) = 0;
};

// The host in use: the one given to set_host, else the process's own.
Host& host();
// Makes `given` the host (null: back to the process's own). The caller
// keeps it alive while it is set.
void set_host(Host* given);

// The process's own clipboard.
class ProcessHost final : public Host {
 public:
  bool open() override;
  void close() override;
  Fetched fetch(std::string_view type) override;
  bool replace(std::vector<Item> items) override;

 private:
  std::vector<Item> items_;
  bool open_ = false;
};

// ---- the file list form (text/uri-list) ----

// file:// URIs of absolute local paths (bytes), each line ended by CR LF;
// bytes other than unreserved characters and "/" are percent-encoded.
std::string encode_uri_list(const std::vector<std::string>& paths);
// The local paths (bytes) of the file:// URIs of a list, in order: comment
// lines and URIs of other schemes or hosts are skipped.
std::vector<std::string> decode_uri_list(std::string_view list);

}  // namespace kiv::clipboard
