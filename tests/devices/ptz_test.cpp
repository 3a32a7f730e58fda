// PTZ commands, presets and camera movement against the simulator: the exact request each
// call sent, the camera number rule, the refusals (which send nothing), and the series-3
// preset deletion by name through the local preset list.
#include <string.h>

#include <string>
#include <vector>

#include "control_fixture.h"

namespace {

using kvtest::ControlTest;

class Ptz : public ControlTest {};

TEST_F(Ptz, EveryCommandCodeOnModelsOfEachSeries) {
  DeviceHandle km2401 = Open("km2401", "KM2401");  // series 2, four cameras, no speeds
  DeviceHandle rz3120 = Open("rz3120", "RZ3120");  // series 3, one camera, speeds
  DeviceHandle qb3101 = Open("qb3101", "QB3101");  // series 3, four cameras
  DeviceHandle rz7161 = Open("rz7161", "RZ7161");  // series 7, one camera, speeds
  auto ptz = [](DeviceHandle d, uint32_t cam, uint32_t code, const char *arg) {
    return [=] { return Kavrel_SendPTZCommand(d, cam, code, arg, 0); };
  };
  RunCases({
      {"km2401", ptz(km2401, 2, 201, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=2&move=up"},
      {"km2401", ptz(km2401, 3, 202, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=3&move=down"},
      {"km2401", ptz(km2401, 4, 203, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=4&move=left"},
      {"km2401", ptz(km2401, 1, 204, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&move=right"},
      {"km2401", ptz(km2401, 1, 205, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&move=home"},
      // Zoom with and without its fragment: no trailing '&' in the short form.
      {"km2401", ptz(km2401, 1, 206, ""), 0, "GET /cgi-bin/camctrl.cgi?cam=1&zoom=tele"},
      {"km2401", ptz(km2401, 1, 206, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&zoom=tele"},
      {"km2401", ptz(km2401, 1, 207, "zoomstep=2&fast=1"), 0,
       "GET /cgi-bin/camctrl.cgi?cam=1&zoom=wide&zoomstep=2&fast=1"},
      {"km2401", ptz(km2401, 1, 208, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&focus=near"},
      {"km2401", ptz(km2401, 1, 209, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&focus=far"},
      {"km2401", ptz(km2401, 1, 210, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&focus=auto"},
      {"km2401", ptz(km2401, 1, 211, "door"), 0, "POST /cgi-bin/preset.cgi cam=1&addpos=door"},
      {"km2401", ptz(km2401, 1, 213, "door"), 0, "GET /cgi-bin/recall.cgi?cam=1&recall=door"},
      {"km2401", ptz(km2401, 1, 212, "door"), 0, "POST /cgi-bin/preset.cgi cam=1&delpos=door"},
      {"km2401", ptz(km2401, 1, 216, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&auto=pan"},
      {"km2401", ptz(km2401, 1, 217, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&auto=stop"},
      {"km2401", ptz(km2401, 1, 218, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&auto=patrol"},
      {"km2401", ptz(km2401, 1, 219, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&iris=open"},
      {"km2401", ptz(km2401, 1, 220, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&iris=close"},
      {"km2401", ptz(km2401, 1, 221, nullptr), 0, "GET /cgi-bin/camctrl.cgi?cam=1&iris=auto"},
      {"km2401", ptz(km2401, 1, 222, "4"), 0, "GET /cgi-bin/camctrl.cgi?cam=1&speedzoom=4"},
      // 223 and 224 name no camera.
      {"km2401", ptz(km2401, 3, 223, nullptr), 0, "GET /cgi-bin/camctrl.cgi?sethome=define"},
      {"km2401", ptz(km2401, 3, 224, nullptr), 0, "GET /cgi-bin/camctrl.cgi?sethome=default"},
      {"km2401", ptz(km2401, 1, 225, "2"), 0, "GET /cgi-bin/camctrl.cgi?cam=1&speedfocus=2"},
      {"km2401", ptz(km2401, 1, 225, ""), 0, "GET /cgi-bin/camctrl.cgi?cam=1&speedfocus="},
      // Speeds need Flag bit 0: refused on KM2401, sent on RZ3120 (one camera: cam=0).
      {"km2401", ptz(km2401, 1, 214, "5"), 0x80060305u, nullptr},
      {"km2401", ptz(km2401, 1, 215, "5"), 0x80060305u, nullptr},
      {"rz3120", ptz(rz3120, 1, 214, "5"), 0,
       "GET /setup/camctrl.cgi?cam=0&panspeed=5&speedpan=5"},
      {"rz3120", ptz(rz3120, 0, 215, "-3"), 0,
       "GET /setup/camctrl.cgi?cam=0&tiltspeed=-3&speedtilt=-3"},
      {"rz3120", ptz(rz3120, 1, 206, "zoomspeed=3"), 0,
       "GET /setup/camctrl.cgi?cam=0&zoom=tele&zoomspeed=3"},
      {"qb3101", ptz(qb3101, 4, 203, nullptr), 0, "GET /setup/camctrl.cgi?cam=4&move=left"},
      {"qb3101", ptz(qb3101, 2, 211, "p1"), 0, "POST /setup/preset.cgi cam=2&addpos=p1"},
      {"rz7161", ptz(rz7161, 1, 211, "gate"), 0,
       "POST /cgi-bin/admin/preset.cgi cam=0&addpos=gate"},
      {"rz7161", ptz(rz7161, 1, 213, "gate"), 0, "GET /cgi-bin/recall.cgi?cam=0&recall=gate"},
      {"rz7161", ptz(rz7161, 1, 212, "gate"), 0,
       "POST /cgi-bin/admin/preset.cgi cam=0&delpos=gate"},
      {"rz7161", ptz(rz7161, 1, 214, "7"), 0,
       "GET /cgi-bin/camctrl/camctrl.cgi?cam=0&panspeed=7&speedpan=7"},
  });
  // The preset list lives in the device's configuration: gate came and went, p1 stays.
  EXPECT_EQ(State("qb3101", "ptz")["presets"]["0"].text, "p1");
  EXPECT_TRUE(State("rz7161", "ptz")["presets"].members.empty());
}

TEST_F(Ptz, CameraNumbers) {
  DeviceHandle rz3120 = Open("rz3120", "RZ3120");
  DeviceHandle km2401 = Open("km2401", "KM2401");
  RunCases({
      // A single-camera model gets cam=0 for any number up to 1; 2 is refused.
      {"rz3120", [=] { return Kavrel_SendPTZCommand(rz3120, 1, 201, nullptr, 0); }, 0,
       "GET /setup/camctrl.cgi?cam=0&move=up"},
      {"rz3120", [=] { return Kavrel_SendPTZCommand(rz3120, 2, 201, nullptr, 0); },
       0x80000003u, nullptr},
      {"rz3120", [=] { return Kavrel_MoveCamera(rz3120, 2, 1, 1, 0); }, 0x80000003u, nullptr},
      {"km2401", [=] { return Kavrel_SendPTZCommand(km2401, 5, 201, nullptr, 0); },
       0x80000003u, nullptr},
      {"km2401", [=] { return Kavrel_SendPTZCommandEx(km2401, 5, 201, nullptr, 0, 0); },
       0x80000003u, nullptr},
  });
}

// Series 2 and "KM7150" keep the caller's number on a single-camera model; no PTZ model of
// the line-up is one, so the rule is shown on records changed through the internal library.
TEST_F(Ptz, SingleCameraRuleOnChangedRecords) {
  DeviceHandle km2401 = Open("km2401", "KM2401");
  km2401->param.CamNum = 1;
  DeviceHandle as7150 = Open("rz7161", "RZ7161");
  snprintf(as7150->server_type, sizeof(as7150->server_type), "%s", "KM7150");
  DeviceHandle rz3120 = Open("rz3120", "RZ3120");
  RunCases({
      {"km2401", [=] { return Kavrel_SendPTZCommand(km2401, 1, 201, nullptr, 0); }, 0,
       "GET /cgi-bin/camctrl.cgi?cam=1&move=up"},
      // The Ex function and the move always send 0.
      {"km2401", [=] { return Kavrel_SendPTZCommandEx(km2401, 1, 201, nullptr, 0, 0); }, 0,
       "GET /cgi-bin/camctrl.cgi?cam=0&move=up"},
      {"km2401", [=] { return Kavrel_MoveCamera(km2401, 1, 3, 4, 0); }, 0,
       "GET /cgi-bin/camctrl.cgi?cam=0&x=3&y=4"},
      {"rz7161", [=] { return Kavrel_SendPTZCommand(as7150, 1, 204, nullptr, 0); }, 0,
       "GET /cgi-bin/camctrl/camctrl.cgi?cam=1&move=right"},
      {"rz3120", [=] { return Kavrel_SendPTZCommand(rz3120, 1, 204, nullptr, 0); }, 0,
       "GET /setup/camctrl.cgi?cam=0&move=right"},
  });
}

TEST_F(Ptz, NumberedPresetsMoveAndMissingPaths) {
  DeviceHandle rq = Open("rq48x3", "RQ48x3");
  DeviceHandle km2401 = Open("km2401", "KM2401");
  DeviceHandle km6211 = Open("km6211", "KM6211");  // PTZ path only
  DeviceHandle km4130 = Open("km4130", "KM4130");  // no PTZ at all
  RunCases({
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 211, "hall", 2, 0); }, 0,
       "POST /cgi-bin/admin/preset.cgi presetnumber=2&presetname=hall"},
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 211, "", 3, 0); }, 0,
       "POST /cgi-bin/admin/preset.cgi presetnumber=3"},
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 211, nullptr, 4, 0); }, 0,
       "POST /cgi-bin/admin/preset.cgi presetnumber=4"},
      // The number goes out signed: the device has no slot -1 and says so.
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 211, nullptr, 0xFFFFFFFFu, 0); },
       KAVREL_T_E_HTTP, "POST /cgi-bin/admin/preset.cgi presetnumber=-1"},
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 212, "hall", 2, 0); },
       0x80060305u, nullptr},
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 214, "1", 2, 0); }, 0x80060305u,
       nullptr},
      {"rq48x3", [=] { return Kavrel_SendPTZCommandEx(rq, 1, 201, nullptr, 0, 0); }, 0,
       "GET /cgi-bin/camctrl/camctrl.cgi?cam=0&move=up"},
      // Elsewhere the Ex function is the plain one: the name form, the number unused.
      {"km2401", [=] { return Kavrel_SendPTZCommandEx(km2401, 2, 211, "yard", 9, 0); }, 0,
       "POST /cgi-bin/preset.cgi cam=2&addpos=yard"},
      {"km2401", [=] { return Kavrel_MoveCamera(km2401, 2, 10, -5, 0); }, 0,
       "GET /cgi-bin/camctrl.cgi?cam=2&x=10&y=-5"},
      {"km6211", [=] { return Kavrel_SendPTZCommand(km6211, 1, 201, nullptr, 0); }, 0,
       "GET /cgi-bin/camctrl/camctrl.cgi?cam=0&move=up"},
      // A recall path missing although the PTZ path is there; a model without PTZ.
      {"km6211", [=] { return Kavrel_SendPTZCommand(km6211, 1, 213, "x", 0); }, 0x80060305u,
       nullptr},
      {"km6211", [=] { return Kavrel_SendPTZCommand(km6211, 1, 211, "x", 0); }, 0x80060305u,
       nullptr},
      {"km4130", [=] { return Kavrel_MoveCamera(km4130, 1, 1, 1, 0); }, 0x80060305u, nullptr},
      {"km4130", [=] { return Kavrel_SendPTZCommand(km4130, 1, 205, nullptr, 0); },
       0x80060305u, nullptr},
  });
  EXPECT_EQ(State("rq48x3", "ptz")["presets"]["2"].text, "hall");
  // The device answers 404 where its model has no such page.
  EXPECT_EQ(Kavrel_HttpOperation(km6211, "/cgi-bin/recall.cgi?cam=0&recall=x", 0, 0),
            0x80070083u);
}

// Refusals send nothing and give the slot back (more of them than a device has slots, then
// a command that works).
TEST_F(Ptz, RefusalsSendNothing) {
  DeviceHandle d = Open("rz3120", "RZ3120");
  const std::string long_name(300, 'n');
  struct Refusal {
    uint32_t code;
    const char *arg;
    uint32_t rc;
  } refusals[] = {
      {200, nullptr, 0x80000003u}, {226, nullptr, 0x80000003u},
      {211, nullptr, 0x80000003u}, {212, nullptr, 0x80000003u},
      {213, nullptr, 0x80000003u}, {214, nullptr, 0x80000003u},
      {215, nullptr, 0x80000003u}, {225, nullptr, 0x80000003u},
      {222, nullptr, 0x80060305u}, {222, "", 0x80060305u},
      {211, "a&b", 0x80000003u},   {211, "a#b", 0x80000003u},
      {211, "a b", 0x80000003u},   {213, "a\r\nX: y", 0x80000003u},
      {213, "a\tb", 0x80000003u},  {214, "1&x=2", 0x80000003u},
      {222, "1#", 0x80000003u},    {225, "\x01", 0x80000003u},
      {206, "a=1#frag", 0x80000003u}, {207, "a =1", 0x80000003u},
      {211, long_name.c_str(), 0x80000003u},
  };
  int mark = Mark();
  for (const Refusal &r : refusals) {
    EXPECT_EQ(Kavrel_SendPTZCommand(d, 1, r.code, r.arg, 0), r.rc) << r.code;
    EXPECT_EQ(Kavrel_SendPTZCommand(d, 1, r.code, r.arg, 1), r.rc) << r.code << " async flag";
  }
  EXPECT_TRUE(Sent(mark).empty());
  // '%' and '+' pass unchanged: the host encodes them when it means them literally.
  EXPECT_EQ(Kavrel_SendPTZCommand(d, 1, 211, "a%20b+c", 0), 0u);
  EXPECT_EQ(OnlySent(mark, "rz3120"), "POST /setup/preset.cgi cam=0&addpos=a%20b+c");
}

// Series 3 deletes a preset by its index in the preset list of the device's configuration
// (parameter 275): a device with its configuration, of the pan-tilt family.
TEST_F(Ptz, Series3DeletionByNameThroughThePresetList) {
  DeviceHandle rz = Open("rz3120", "RZ3120");
  for (const char *name : {"door", "gate", "yard"}) {
    ASSERT_EQ(Kavrel_SendPTZCommand(rz, 0, 211, name, 0), 0u) << name;
  }
  DeviceHandle full = OpenWithConfig("rz3120", "RZ3120");
  int mark = Mark();
  EXPECT_EQ(Kavrel_SendPTZCommand(full, 0, 212, "gate", 0), 0u);
  EXPECT_EQ(OnlySent(mark, "rz3120"), "POST /setup/preset.cgi cam=0&delpos=1");
  EXPECT_EQ(State("rz3120", "ptz")["presets"]["1"].kind, kvtest::Json::kNull);
  EXPECT_EQ(State("rz3120", "ptz")["presets"]["2"].text, "yard");

  // The list after the deletion has a gap; entries missing from the file are passed over.
  CopyConfig("rz3120", full);
  mark = Mark();
  EXPECT_EQ(Kavrel_SendPTZCommand(full, 0, 212, "yard", 0), 0u);
  EXPECT_EQ(OnlySent(mark, "rz3120"), "POST /setup/preset.cgi cam=0&delpos=2");

  // A name no entry carries, an empty one, a device described by server type only (no
  // configuration), and a series-3 model outside the pan-tilt family send nothing.
  DeviceHandle qb = OpenWithConfig("qb3101", "QB3101");
  CopyConfig("rz3120", qb);
  mark = Mark();
  EXPECT_EQ(Kavrel_SendPTZCommand(full, 0, 212, "nosuch", 0), 0x80000003u);
  EXPECT_EQ(Kavrel_SendPTZCommand(full, 0, 212, "", 0), 0x80000003u);
  EXPECT_EQ(Kavrel_SendPTZCommand(rz, 0, 212, "door", 0), 0x80000003u);
  EXPECT_EQ(Kavrel_SendPTZCommand(qb, 1, 212, "door", 0), 0x80000003u);
  EXPECT_TRUE(Sent(mark).empty());
}

}  // namespace
