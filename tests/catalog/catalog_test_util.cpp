#include "catalog_test_util.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "test_paths.h"

namespace cattest {

DataDir::DataDir(const std::string &prefix) : dir_(kvtest::MakeTempDir(prefix)) {
  kvtest::SetEnv("KAVREL_DATA_DIR", dir_.c_str());
}

DataDir::~DataDir() { kvtest::UnsetEnv("KAVREL_DATA_DIR"); }

ServerParam MakeRecord(const std::string &key, int seed) {
  ServerParam p;
  memset(&p, 0, sizeof(p));
  snprintf(p.ServerName, sizeof(p.ServerName), "%s", key.c_str());
  int32_t *ints[] = {&p.CamNum,     &p.ComNum,         &p.DiNum,           &p.DoNum,
                     &p.VideoCodec, &p.AudioCodec,     &p.MDWinNum,        &p.DefaultQuality,
                     &p.DefaultProtocol, &p.DefaultMediaType, &p.Flag};
  int n = 0;
  for (int32_t *v : ints) {
    *v = seed * 100 + n - (n % 3 == 0 ? 1000 : 0);  // some negative
    n++;
  }
  char *texts[] = {p.VideoUrl, p.RxUrl,    p.TxUrl,    p.QuadUrl,  p.PtzUrl,
                   p.RecallUrl, p.PresetUrl, p.GetDiUrl, p.SetDoUrl, p.UartUrl};
  n = 0;
  for (char *t : texts) {
    snprintf(t, 40, "/cgi-bin/%s/f%d.cgi?a=%d&b=<%d>", key.c_str(), n, seed, seed);
    n++;
  }
  std::string size = std::to_string(176 + seed % 100) + "x" + std::to_string(144 + seed % 100);
  snprintf(p.DefaultVSize, sizeof(p.DefaultVSize), "%s", size.c_str());
  return p;
}

void ExpectSameRecord(const ServerParam &expected, const ServerParam &actual,
                      const std::string &what) {
  char key[7] = {0};
  memcpy(key, expected.ServerName, 6);
  EXPECT_STREQ(key, actual.ServerName) << what;
#define INT_EQ(f) EXPECT_EQ(expected.f, actual.f) << what << " " #f
#define TEXT_EQ(f) EXPECT_STREQ(expected.f, actual.f) << what << " " #f
  INT_EQ(CamNum); INT_EQ(ComNum); INT_EQ(DiNum); INT_EQ(DoNum); INT_EQ(VideoCodec);
  INT_EQ(AudioCodec); INT_EQ(MDWinNum); INT_EQ(DefaultQuality); INT_EQ(DefaultProtocol);
  INT_EQ(DefaultMediaType); INT_EQ(Flag);
  TEXT_EQ(VideoUrl); TEXT_EQ(RxUrl); TEXT_EQ(TxUrl); TEXT_EQ(QuadUrl); TEXT_EQ(PtzUrl);
  TEXT_EQ(RecallUrl); TEXT_EQ(PresetUrl); TEXT_EQ(GetDiUrl); TEXT_EQ(SetDoUrl);
  TEXT_EQ(UartUrl); TEXT_EQ(DefaultVSize);
#undef INT_EQ
#undef TEXT_EQ
}

int32_t Lookup(const std::string &name, ServerParam *out) {
  memset(out, 0, sizeof(*out));
  std::vector<char> copy(name.begin(), name.end());
  copy.push_back('\0');
  return ModelCatalog_Lookup(copy.data(), out);
}

}  // namespace cattest
