#include "runtime/io/curl_library.h"

#include <mutex>

#include "runtime/dynamic_library.h"

namespace kiv::curl_library {
namespace {

// The library's soname: the ABI the headers describe.
constexpr const char* library_name = "libcurl.so.4";

struct Functions {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL* easy);
  CURLcode (*easy_perform)(CURL* easy);
  const char* (*easy_strerror)(CURLcode code);
  CURLcode (*easy_getinfo)(CURL* easy, CURLINFO info, ...);
  CURLcode (*easy_setopt)(CURL* easy, CURLoption option, ...);
  curl_slist* (*slist_append)(curl_slist* list, const char* line);
  void (*slist_free_all)(curl_slist* list);
  int (*strequal)(const char* a, const char* b);
};

Functions g_functions{};
std::string g_failure;  // why the library could not be loaded

void open_library() {
  static constexpr const char* names[] = {"curl_global_init",   "curl_easy_init",    "curl_easy_cleanup",
                                          "curl_easy_perform",  "curl_easy_strerror", "curl_easy_getinfo",
                                          "curl_easy_setopt",   "curl_slist_append", "curl_slist_free_all",
                                          "curl_strequal"};
  Functions loaded{};
  if (!dynamic_library::open_functions(library_name, names, loaded, g_failure)) return;
  if (loaded.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    g_failure = std::string(library_name) + " could not be set up";
    return;
  }
  g_functions = loaded;
}

}  // namespace

bool load(std::string& why) {
  static std::once_flag once;
  std::call_once(once, open_library);
  if (g_functions.easy_init == nullptr) {
    why = g_failure;
    return false;
  }
  return true;
}

CURL* easy_init() { return g_functions.easy_init(); }
void easy_cleanup(CURL* easy) { g_functions.easy_cleanup(easy); }
CURLcode easy_perform(CURL* easy) { return g_functions.easy_perform(easy); }
const char* easy_strerror(CURLcode code) { return g_functions.easy_strerror(code); }
CURLcode response_code(CURL* easy, long* status) { return g_functions.easy_getinfo(easy, CURLINFO_RESPONSE_CODE, status); }
CURLcode setopt(CURL* easy, CURLoption option, long value) { return g_functions.easy_setopt(easy, option, value); }
CURLcode setopt(CURL* easy, CURLoption option, const void* value) { return g_functions.easy_setopt(easy, option, value); }
CURLcode setopt(CURL* easy, CURLoption option, curl_write_callback value) {
  return g_functions.easy_setopt(easy, option, value);
}
CURLcode setopt_large(CURL* easy, CURLoption option, curl_off_t value) {
  return g_functions.easy_setopt(easy, option, value);
}
curl_slist* slist_append(curl_slist* list, const char* line) { return g_functions.slist_append(list, line); }
void slist_free_all(curl_slist* list) { g_functions.slist_free_all(list); }
bool same_text_caseless(const char* a, const char* b) { return g_functions.strequal(a, b) != 0; }

}  // namespace kiv::curl_library
