#include "runtime/io/curl_library.h"

#include <dlfcn.h>

#include <mutex>

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

// Sets `slot` to the symbol `name` of `library`; false when it is missing.
template <typename Function>
bool find(void* library, const char* name, Function& slot) {
  void* symbol = ::dlsym(library, name);
  if (symbol == nullptr) return false;
  slot = reinterpret_cast<Function>(symbol);
  return true;
}

void open_library() {
  void* library = ::dlopen(library_name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = ::dlerror();
    g_failure = std::string("cannot load ") + library_name + (reason ? std::string(": ") + reason : std::string());
    return;
  }
  Functions found{};
  const bool complete = find(library, "curl_global_init", found.global_init) &&
                        find(library, "curl_easy_init", found.easy_init) &&
                        find(library, "curl_easy_cleanup", found.easy_cleanup) &&
                        find(library, "curl_easy_perform", found.easy_perform) &&
                        find(library, "curl_easy_strerror", found.easy_strerror) &&
                        find(library, "curl_easy_getinfo", found.easy_getinfo) &&
                        find(library, "curl_easy_setopt", found.easy_setopt) &&
                        find(library, "curl_slist_append", found.slist_append) &&
                        find(library, "curl_slist_free_all", found.slist_free_all) &&
                        find(library, "curl_strequal", found.strequal);
  if (!complete) {
    g_failure = std::string(library_name) + " lacks a function this program needs";
    return;  // the library stays open: unloading a library that ran its constructors is not worth the risk
  }
  if (found.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    g_failure = std::string(library_name) + " could not be set up";
    return;
  }
  g_functions = found;
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
