// Transfer of a device's whole configuration between the device and its local file
// ("config.ini" in the record's private directory): the fetch (operation kinds 1 and 2) and
// the upload (kind 3), synchronous or driven by the worker's completions. Both modes run the
// same decisions, step by step:
//
//   fetch   GET "/cgi-bin/admin/configfile.cgi" -> GET "/setup/parafile.html" (text area)
//           -> FTP login on the cached port (21 when none) -> RETR "config.ini";
//           without a cached port, a failed login learns the port from "/setup/network.html",
//           else "/setup/mailftp.html", and logs in there.
//   upload  the local file to CR LF, FTP login on the cached port (21 when none), STOR.
//
// A page that is missing (404) or empty moves on to the next source; any other failure ends
// the fetch. A configuration that filled the exclusive slot's buffer is cut, never a whole
// configuration: the fetch fails and the previous local file stays. The local file is only
// ever replaced whole (a temporary file beside it, then one atomic replace).
#pragma once

#include <stdint.h>

struct KavrelDevice;
struct OperationSlot;

// Runs the transfer of `slot->kind` (1 or 2: fetch, 3: upload) on a taken exclusive slot
// (Operation_Take) whose `async` flag is set. Synchronous: the result (0, or the first
// failing step's code), the slot given back. Asynchronous: the start's result; on 0 the slot belongs to the completion path and
// the outcome reaches the host once, else the slot is given back and no callback follows.
uint32_t ConfigTransfer_Run(OperationSlot *slot);

// The worker's handling of a completion of kinds 1, 2 and 3 (status from the node).
void ConfigTransfer_HandleNode(OperationSlot *slot, uint32_t status);
