// HTTP/1.0 requests over a transport handle (SMO_HttpRequest_InitEx).
#pragma once

#include "core.h"

namespace tessum {

uint32_t StartHttp(const std::shared_ptr<AgentCore> &agent, TessumToken *token,
                   TessumCallback callback, void *context, const TessumHttpRequest *request,
                   TessumHandle *handle);

// SMO_HttpRequest_SetConn.
uint32_t SetConn(TessumHttpConn *conn, uint32_t use_proxy, const char *proxy_host,
                 uint32_t proxy_port, const char *host, uint32_t port);

}  // namespace tessum
