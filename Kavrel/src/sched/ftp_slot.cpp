// The socket FTP chains run for an operation slot: the slot's token, abort flag and device
// lock, its control connection, and its two ways of completing (the caller's event or the
// worker's queue through the slot's one embedded node).
#include <stdio.h>
#include <string.h>

#include "core/operation.h"
#include "platform/log.h"
#include "sched/ftp_sock.h"

namespace {

// Runs on a Tessum thread when a chain of the slot ended. A chain ends exactly once and the
// slot runs one chain at a time, so the embedded node is never queued twice.
void TESSUM_CALL SlotCompletion(TessumToken *token) {
  OperationSlot *slot = static_cast<OperationSlot *>(token->context);
  KavrelDevice *device = slot->device;
  uint32_t status = token->status;
  slot->final_status.store(status);
  if (!slot->async) {
    OsEventSet(slot->done);
    return;
  }
  if (device->closing.load()) return;
  EventNode *node = &slot->node;
  node->device = device;
  node->event = status;
  node->slot = slot;
  node->embedded = 1;
  node->transport = &slot->token;
  Context_Enqueue(device->context, node);
}

template <typename Start>
uint32_t RunForSlot(OperationSlot *slot, Start start) {
  KavrelDevice *device = slot->device;
  FtpSockGuard guard{device->lock, &slot->abort_requested};
  slot->token.timeout_ms = device->timeout_ms;
  slot->final_status.store(0);
  if (slot->async) return start(&guard);
  if (OsEventCreate(&slot->done, 0) != 0) return KAVREL_E_PLATFORM;
  uint32_t status = start(&guard);
  if (status == 0) {
    OsWait(slot->done, OS_WAIT_FOREVER);
    status = slot->final_status.load();
  }
  OsEventClose(&slot->done);
  return status;
}

}  // namespace

void FtpSock_ServerOfDevice(const KavrelDevice *device, uint32_t port, FtpSockServer *server) {
  memset(server, 0, sizeof(*server));
  Device_CopyString(server->host, sizeof(server->host), device->address);
  server->port = port ? port : 21;
  Device_CopyString(server->user, sizeof(server->user),
                    device->user[0] ? device->user : "root");
  Device_CopyString(server->password, sizeof(server->password), device->password);
}

uint32_t FtpSock_SlotLogin(OperationSlot *slot, const FtpSockServer *server) {
  FtpSock_SlotClose(slot);
  KavrelDevice *device = slot->device;
  return RunForSlot(slot, [&](const FtpSockGuard *guard) {
    return ConnectToServerByFtp(device->agent, &slot->token, SlotCompletion, slot, server,
                                &slot->ftp_control, guard);
  });
}

uint32_t FtpSock_SlotTransfer(OperationSlot *slot, const FtpSockTransfer *transfer) {
  if (!transfer) return KAVREL_T_E_ARG;
  KavrelDevice *device = slot->device;
  FtpSockTransfer own = *transfer;
  own.control = &slot->ftp_control;
  OsLockEnter(device->lock);
  bool connected = slot->ftp_control != nullptr;
  OsLockLeave(device->lock);
  if (!connected) return KAVREL_T_E_ARG;
  return RunForSlot(slot, [&](const FtpSockGuard *guard) {
    return FtpSock_Transfer(device->agent, &slot->token, SlotCompletion, slot, &own, guard);
  });
}

void FtpSock_SlotClose(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  OsLockEnter(device->lock);
  if (slot->ftp_control) COMMON_TI_Release(&slot->ftp_control);
  OsLockLeave(device->lock);
}
