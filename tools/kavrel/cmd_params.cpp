// Host name, clock and administrator password: setparam.
#include <stdio.h>

#include <string>

#include "cli.h"

namespace {

// Copies an option into a fixed field; false when it does not fit with its NUL.
bool Fill(Output &out, const char *option, const std::string &value, char *field, size_t size) {
  if (value.size() >= size) {
    out.Usage(std::string(option) + " is at most " + std::to_string(size - 1) + " characters");
    return false;
  }
  snprintf(field, size, "%s", value.c_str());
  return true;
}

}  // namespace

void DefineParamCalls(CLI::App *parent, CallCommands *calls) {
  static std::string host, date, time, password;
  auto *set = parent->add_subcommand(
      "setparam", "set the device's host name, date, time or administrator password");
  auto *h = set->add_option("--hostname", host, "new host name (at most 14 characters)");
  set->add_option("--date", date, "date as the device takes it, e.g. 2026/12/10");
  set->add_option("--time", time, "time, e.g. 14:05:00");
  auto *p = set->add_option("--new-password", password,
                            "new administrator password: the device's login changes");
  auto *pf = AddSecretOptions(set, p, &password, "KAVREL_NEW_PASSWORD", nullptr);
  calls->push_back({set, [h, p, pf](Output &out, DeviceCall *call) {
                      auto r = std::make_shared<SetParamRequest>();
                      r->set_host_name = h->count() ? 1 : 0;
                      r->set_password = p->count() || pf->count() ? 1 : 0;
                      if (!Fill(out, "--hostname", host, r->host_name, sizeof(r->host_name)) ||
                          !Fill(out, "--date", date, r->date, sizeof(r->date)) ||
                          !Fill(out, "--time", time, r->time, sizeof(r->time)) ||
                          !Fill(out, "--new-password", password, r->password,
                                sizeof(r->password))) {
                        return 2;
                      }
                      *call = {"Kavrel_SetParam", "set"};
                      call->run = [r](DeviceHandle device, int async, CallResult *) {
                        return Kavrel_SetParam(device, r.get(), async);
                      };
                      return 0;
                    }});
}

void AddParamCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  CallCommands calls;
  DefineParamCalls(&app, &calls);
  AddSingleDeviceCalls(calls, s, out, commands);
}
