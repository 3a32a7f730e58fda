// Motion detection against the simulator: getmd read by position, setmd's fragments, the
// form page of series 2 and its copy into the local configuration.
#include <string.h>

#include <string>

#include "control_fixture.h"

namespace {

using kvtest::ControlTest;

class Motion : public ControlTest {};

MotionWindow Window(const char *name, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                    uint32_t percent, uint32_t sensitivity, uint32_t enabled) {
  MotionWindow m{};
  snprintf(m.name, sizeof(m.name), "%s", name);
  m.x = x;
  m.y = y;
  m.w = w;
  m.h = h;
  m.percent = percent;
  m.sensitivity = sensitivity;
  m.enabled = enabled;
  return m;
}

void ExpectWindow(const MotionWindow &got, const MotionWindow &want, const char *what) {
  EXPECT_STREQ(got.name, want.name) << what;
  EXPECT_EQ(got.x, want.x) << what;
  EXPECT_EQ(got.y, want.y) << what;
  EXPECT_EQ(got.w, want.w) << what;
  EXPECT_EQ(got.h, want.h) << what;
  EXPECT_EQ(got.percent, want.percent) << what;
  EXPECT_EQ(got.sensitivity, want.sensitivity) << what;
  EXPECT_EQ(got.enabled, want.enabled) << what;
  EXPECT_EQ(got.form, want.form) << what;
}

// The windows are read by their place in the cycle, whatever the keys are called; a window
// with an empty name comes back disabled although its rectangle is set.
TEST_F(Motion, GetmdIsReadByPosition) {
  DeviceHandle d = Open("rz3120", "RZ3120");
  ASSERT_TRUE(SetMotion("rz3120", R"({"keys": "alt", "windows": [
      {"name": "Door", "x": 1, "y": 2, "w": 30, "h": 40, "percent": 5, "sensitivity": 60},
      {"name": "", "x": 7, "y": 7, "w": 70, "h": 70, "percent": 9, "sensitivity": 9},
      {"name": "Yard", "x": 3, "y": 4, "w": 0, "h": 40, "percent": 6, "sensitivity": 61}]})"));
  MotionWindow w[3];
  memset(w, 0xAB, sizeof(w));
  uint32_t count = 0;
  int mark = Mark();
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(d, w, &count, 0, 0), 0u);
  EXPECT_EQ(OnlySent(mark, "rz3120"), "GET /setup/getmd.cgi");
  EXPECT_EQ(count, 3u);
  ExpectWindow(w[0], Window("Door", 1, 2, 30, 40, 5, 60, 1), "window 0");
  ExpectWindow(w[1], Window("", 7, 7, 70, 70, 9, 9, 0), "window 1: no name");
  ExpectWindow(w[2], Window("Yard", 3, 4, 0, 40, 6, 61, 0), "window 2: no width");

  // Series above 3 read under /cgi-bin/admin/.
  DeviceHandle km4130 = Open("km4130", "KM4130");
  mark = Mark();
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(km4130, w, &count, 0, 0), 0u);
  EXPECT_EQ(OnlySent(mark, "km4130"), "GET /cgi-bin/admin/getmd.cgi");
  ExpectWindow(w[0], Window("Entrance", 16, 16, 160, 120, 30, 70, 1), "default window");
}

std::string JsonString(const std::string &text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// Replies the format does not cover: values too long to store, indexes out of range, lines
// without '=', CR LF line ends, an unterminated last line, a reply shorter than its preamble.
TEST_F(Motion, GetmdRepliesOutsideTheFormat) {
  DeviceHandle d = Open("qb3101", "QB3101");
  const std::string preamble = "[getmd 1.0]\n";
  auto window = [](const std::string &i, const std::string &name, const std::string &x) {
    return "i=" + i + "\nn=" + name + "\nx=" + x + "\ny=2\nw=3\nh=4\np=5\nt=6\n";
  };
  struct {
    const char *what;
    std::string reply;
    MotionWindow want[3];
  } cases[] = {
      {"a name of 16 characters keeps its place, unstored",
       preamble + window("0", "SixteenCharsLong", "1") + window("1", "ok", "1"),
       {Window("", 1, 2, 3, 4, 5, 6, 0), Window("ok", 1, 2, 3, 4, 5, 6, 1), {}}},
      {"a number of 16 digits is not stored",
       preamble + window("2", "big", "1234567890123456"),
       {{}, {}, Window("big", 0, 2, 3, 4, 5, 6, 1)}},
      {"indexes outside 0-2 and too long are not stored",
       preamble + window("3", "far", "1") + window("4294967296000000", "long", "1") +
           window("1", "near", "1"),
       {{}, Window("near", 1, 2, 3, 4, 5, 6, 1), {}}},
      {"lines without '=' are skipped; CR LF ends are read",
       preamble + "comment\r\ni=0\r\nn=crlf\r\nx=1\r\n\r\ny=2\r\nw=3\r\nh=4\r\np=5\r\nt=6\r\n",
       {Window("crlf", 1, 2, 3, 4, 5, 6, 1), {}, {}}},
      {"an unterminated last line is not read",
       preamble + "i=0\nn=cut\nx=1\ny=2\nw=3\nh=4\np=5\nt=6", {{}, {}, {}}},
      {"a reply shorter than its preamble", "i=0\n", {{}, {}, {}}},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(SetMotion("qb3101", "{\"getmd_text\": " + JsonString(c.reply) + "}"));
    MotionWindow w[3];
    uint32_t count = 0;
    ASSERT_EQ(Kavrel_GetMotionDetectionInfo(d, w, &count, 0, 0), 0u) << c.what;
    EXPECT_EQ(count, 3u);
    for (int i = 0; i < 3; ++i) ExpectWindow(w[i], c.want[i], c.what);
  }
  ASSERT_TRUE(SetMotion("qb3101", R"({"getmd_text": null})"));
}

TEST_F(Motion, SetmdFragments) {
  DeviceHandle d = Open("rz3120", "RZ3120");
  MotionWindow w[3] = {Window("Door", 1, 2, 30, 40, 5, 60, 1),
                       Window("Skip", 9, 9, 9, 9, 9, 9, 0),
                       Window("Yard", 3, 4, 50, 60, 7, 80, 1)};
  // The disabled window's name is not read: it need not even be terminated.
  memset(w[1].name, 'n', sizeof(w[1].name));
  int mark = Mark();
  ASSERT_EQ(Kavrel_SetMotionDetectionInfo(d, w, 0, 0), 0u);
  EXPECT_EQ(OnlySent(mark, "rz3120"),
            "GET /setup/setmd.cgi?i1=0&n1=Door&x1=1&y1=2&w1=30&h1=40&p1=5&t1=60&"
            "i2=1&n2=&x2=0&y2=0&w2=0&h2=0&p2=0&t2=0&"
            "i3=2&n3=Yard&x3=3&y3=4&w3=50&h3=60&p3=7&t3=80");
  MotionWindow back[3];
  uint32_t count = 0;
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(d, back, &count, 0, 0), 0u);
  ExpectWindow(back[0], w[0], "window 0 back");
  ExpectWindow(back[1], Window("", 0, 0, 0, 0, 0, 0, 0), "window 1 back");
  ExpectWindow(back[2], w[2], "window 2 back");

  // Names that would change the request, or lack their NUL, send nothing.
  mark = Mark();
  for (const char *name : {"a&i1=7", "a#b", "a b", "a\nb"}) {
    MotionWindow bad[3] = {w[0], w[1], w[2]};
    snprintf(bad[2].name, sizeof(bad[2].name), "%s", name);
    EXPECT_EQ(Kavrel_SetMotionDetectionInfo(d, bad, 0, 0), 0x80000003u) << name;
  }
  MotionWindow unterminated[3] = {w[0], w[1], w[2]};
  memset(unterminated[0].name, 'n', sizeof(unterminated[0].name));
  EXPECT_EQ(Kavrel_SetMotionDetectionInfo(d, unterminated, 0, 0), 0x80000003u);
  EXPECT_EQ(Kavrel_SetMotionDetectionInfo(d, nullptr, 0, 0), 0x80000003u);
  EXPECT_EQ(Kavrel_GetMotionDetectionInfo(d, nullptr, &count, 0, 0), 0x80000003u);
  EXPECT_EQ(Kavrel_GetMotionDetectionInfo(d, back, nullptr, 0, 0), 0x80000003u);
  EXPECT_TRUE(Sent(mark).empty());
}

// Series 2: one area read from the setup page and set through motion.cgi, copied into the
// local configuration's "ALERT" section when asked and the device has its configuration.
TEST_F(Motion, FormPageReadSetAndCopied) {
  DeviceHandle lite = Open("km2401", "KM2401");
  DeviceHandle full = OpenWithConfig("km2401", "KM2401");
  MotionWindow w[3];
  uint32_t count = 0;
  int mark = Mark();
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(full, w, &count, 1, 0), 0u);
  EXPECT_EQ(OnlySent(mark, "km2401"), "GET /setup/motion.html");
  EXPECT_EQ(count, 1u);
  MotionWindow form = Window("", 0, 0, 0, 0, 30, 70, 1);
  form.form = 1;
  ExpectWindow(w[0], form, "form window");
  std::string config = kvtest::ReadFile(full->config_path);
  EXPECT_NE(config.find(kvtest::TextForm("[ALERT]\n<percentage of object size over screen>\n30\n"
                                        "<percentage of sensitivity>\n70")),
            std::string::npos)
      << config;

  MotionWindow set[3] = {Window("ignored", 1, 1, 1, 1, 55, 66, 1), {}, {}};
  mark = Mark();
  ASSERT_EQ(Kavrel_SetMotionDetectionInfo(full, set, 1, 0), 0u);
  EXPECT_EQ(OnlySent(mark, "km2401"), "POST /cgi-bin/motion.cgi per=55&sen=66");
  config = kvtest::ReadFile(full->config_path);
  EXPECT_NE(config.find(kvtest::TextForm("over screen>\n55\n<percentage of sensitivity>\n66")), std::string::npos);
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(lite, w, &count, 1, 0), 0u);
  EXPECT_EQ(w[0].percent, 55u);
  EXPECT_EQ(w[0].sensitivity, 66u);

  // A device described by server type only has no configuration to copy into.
  set[0].percent = 20;
  ASSERT_EQ(Kavrel_SetMotionDetectionInfo(lite, set, 1, 0), 0u);
  EXPECT_EQ(kvtest::ReadFile(lite->config_path), "");

  // A page that lacks the sensitivity (cut short) is refused with 0x80060316, and window 0
  // stays cleared although the page held its percent (55); the window-kind paths answer 404
  // on this model.
  ASSERT_TRUE(sim_->AddFault("km2401", R"({"path": "/setup/motion.html", "truncate": 200})"));
  EXPECT_EQ(Kavrel_GetMotionDetectionInfo(lite, w, &count, 0, 0), 0x80060316u);
  EXPECT_EQ(w[0].percent, 0u);
  EXPECT_EQ(w[0].enabled, 0u);
  ASSERT_TRUE(sim_->AddFault("km2401", R"({"path": "/setup/motion.html", "truncate": 20})"));
  EXPECT_EQ(Kavrel_GetMotionDetectionInfo(lite, w, &count, 0, 0), 0x80060316u);
  ASSERT_TRUE(sim_->ClearFaults("km2401"));
  EXPECT_EQ(Kavrel_HttpOperation(lite, "/setup/getmd.cgi", 0, 0), 0x80070083u);
}

}  // namespace
