// The libcurl figure of kavrel_bench: a GET with a new easy handle per request, as a user
// of that library would write it. Built with libcurl when the build found it
// (curl_get.cpp), else without (curl_get_none.cpp, which reports it missing).
#pragma once

namespace bench {

// True when this build has libcurl.
bool CurlAvailable();
// One GET of http://127.0.0.1:port/path, the body read to the end; false on a failure.
bool CurlGet(int port, const char *path);

}  // namespace bench
