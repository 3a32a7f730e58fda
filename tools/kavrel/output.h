// What the kavrel command prints: human text by default, one JSON object with --json.
// Failures name the result code with its name and text from the library's list.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "kavrel.h"

class Output {
 public:
  void SetJson(bool json) { json_ = json; }

  // Prints a failure; returns the code so callers can pass it on.
  uint32_t Failure(const std::string &what, uint32_t code) {
    const char *name = KavrelResult_Name(code);
    const char *text = KavrelResult_Text(code);
    if (json_) {
      printf("{\"ok\":false,\"call\":%s,\"code\":\"0x%08X\",\"name\":%s,\"text\":%s}\n",
             Quote(what).c_str(), code, Quote(name ? name : "").c_str(),
             Quote(text ? text : "unknown code").c_str());
    } else {
      fprintf(stderr, "kavrel: %s failed: 0x%08X %s (%s)\n", what.c_str(), code,
              name ? name : "UNKNOWN", text ? text : "unknown code");
    }
    return code ? code : KAVREL_E_PLATFORM;
  }

  // A mistake on the command line; exit status 2.
  uint32_t Usage(const std::string &message) {
    if (json_) {
      printf("{\"ok\":false,\"error\":%s}\n", Quote(message).c_str());
    } else {
      fprintf(stderr, "kavrel: %s\n", message.c_str());
    }
    return KAVREL_E_INVALIDARG;
  }

  void Callback(uint32_t operation, uint32_t status, uintptr_t value) {
    if (!json_) {
      fprintf(stderr, "callback: operation %u, status %u (0x%X), value %llu\n", operation, status,
              status, static_cast<unsigned long long>(value));
    }
  }

  void Done(const char *what) {
    if (json_) {
      printf("{\"ok\":true}\n");
    } else {
      printf("%s\n", what);
    }
  }

  void Inputs(const uint32_t in[4], const char *(*name)(uint32_t)) {
    if (json_) {
      printf("{\"ok\":true,\"inputs\":[%u,%u,%u,%u]}\n", in[0], in[1], in[2], in[3]);
      return;
    }
    for (int i = 0; i < 4; ++i) printf("input %d: %s (%u)\n", i + 1, name(in[i]), in[i]);
  }

  void Data(const char *data, size_t length, uint32_t status) {
    std::string text(data, length);
    if (json_) {
      printf("{\"ok\":true,\"bytes\":%zu,\"status\":\"0x%08X\",\"full\":%s,\"data\":%s}\n", length,
             status, status == KAVREL_S_BUFFER_FULL ? "true" : "false", Quote(text).c_str());
      return;
    }
    fwrite(text.data(), 1, text.size(), stdout);
    if (text.empty() || text.back() != '\n') printf("\n");
    if (status == KAVREL_S_BUFFER_FULL) fprintf(stderr, "(reply filled the buffer: %zu bytes)\n", length);
  }

  void Version(const uint8_t v[4]) {
    if (json_) {
      printf("{\"ok\":true,\"version\":\"%u.%u.%u.%u\"}\n", v[3], v[2], v[1], v[0]);
    } else {
      printf("Kavrel %u.%u.%u.%u\n", v[3], v[2], v[1], v[0]);
    }
  }

  void Path(const std::string &model, unsigned command, const char *path) {
    if (json_) {
      printf("{\"ok\":true,\"model\":%s,\"command\":%u,\"path\":%s}\n", Quote(model).c_str(),
             command, Quote(path).c_str());
    } else {
      printf("%s\n", path);
    }
  }

  void Model(const std::string &type,
             const std::vector<std::pair<std::string, std::string>> &paths) {
    if (json_) {
      printf("{\"ok\":true,\"type\":%s,\"paths\":{", Quote(type).c_str());
      for (size_t i = 0; i < paths.size(); ++i) {
        printf("%s%s:%s", i ? "," : "", Quote(paths[i].first).c_str(),
               Quote(paths[i].second).c_str());
      }
      printf("}}\n");
      return;
    }
    printf("%s\n", type.c_str());
    for (const auto &p : paths) {
      printf("  %-7s %s\n", p.first.c_str(), p.second.empty() ? "-" : p.second.c_str());
    }
  }

  // A JSON string of `text`.
  static std::string Quote(const std::string &text) {
    std::string q = "\"";
    for (unsigned char c : text) {
      if (c == '"' || c == '\\') {
        q += '\\';
        q += static_cast<char>(c);
      } else if (c < 0x20) {
        char esc[8];
        snprintf(esc, sizeof(esc), "\\u%04x", c);
        q += esc;
      } else {
        q += static_cast<char>(c);
      }
    }
    return q + "\"";
  }
  bool json() const { return json_; }

 private:
  bool json_ = false;
};
