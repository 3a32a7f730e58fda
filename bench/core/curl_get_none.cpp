#include "curl_get.h"

namespace bench {

bool CurlAvailable() { return false; }
bool CurlGet(int, const char *) { return false; }

}  // namespace bench
