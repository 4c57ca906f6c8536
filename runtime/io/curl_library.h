// libcurl, loaded when the first HTTP request is made.
//
// libcurl brings some thirty libraries of its own (TLS, Kerberos, LDAP,
// SSH, IDN, ...), and resolving their symbols made up a sixth of the time
// every script took to start, HTTP or not. The program therefore does not
// link libcurl: this module opens it at the first request and hands out
// the few functions the HTTP code calls.
#pragma once

#include <curl/curl.h>

#include <string>

namespace kiv::curl_library {

// Loads libcurl and sets it up, once; false with the reason when the
// library cannot be loaded (the requests then fail with that reason).
bool load(std::string& why);

// The functions of libcurl, valid once `load` succeeded.
CURL* easy_init();
void easy_cleanup(CURL* easy);
CURLcode easy_perform(CURL* easy);
const char* easy_strerror(CURLcode code);
CURLcode response_code(CURL* easy, long* status);
// curl_easy_setopt, one overload per kind of option value.
CURLcode setopt(CURL* easy, CURLoption option, long value);
CURLcode setopt(CURL* easy, CURLoption option, const void* value);
CURLcode setopt(CURL* easy, CURLoption option, curl_write_callback value);
// The options whose value is a curl_off_t (the *_LARGE ones).
CURLcode setopt_large(CURL* easy, CURLoption option, curl_off_t value);
curl_slist* slist_append(curl_slist* list, const char* line);
void slist_free_all(curl_slist* list);
bool same_text_caseless(const char* a, const char* b);

}  // namespace kiv::curl_library
