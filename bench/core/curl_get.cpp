#include "curl_get.h"

#include <curl/curl.h>
#include <stdio.h>

namespace bench {
namespace {

size_t Discard(char *, size_t size, size_t count, void *) { return size * count; }

struct Global {
  Global() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~Global() { curl_global_cleanup(); }
};

}  // namespace

bool CurlAvailable() { return true; }

bool CurlGet(int port, const char *path) {
  static Global global;
  CURL *easy = curl_easy_init();
  if (easy == nullptr) return false;
  char url[256];
  snprintf(url, sizeof url, "http://127.0.0.1:%d%s", port, path);
  curl_easy_setopt(easy, CURLOPT_URL, url);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  bool ok = curl_easy_perform(easy) == CURLE_OK;
  curl_easy_cleanup(easy);
  return ok;
}

}  // namespace bench
