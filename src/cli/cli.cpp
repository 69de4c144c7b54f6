#include "cli/cli.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/images/image_codecs.h"
#include "state/atomic_file.h"

namespace ps::cli {

namespace {
std::map<std::string, Command>& Registry() {
  static std::map<std::string, Command> registry;
  return registry;
}
}  // namespace

bool RegisterCommand(Command command) {
  Registry()[command.name] = std::move(command);
  return true;
}

const std::map<std::string, Command>& Commands() { return Registry(); }

Args::Args(const std::vector<std::string>& args, const std::map<std::string, int>& arity) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.rfind("--", 0) == 0) {
      auto it = arity.find(a);
      if (it == arity.end()) {
        error_ = "unknown option " + a;
        return;
      }
      std::vector<std::string>& vals = options_[a];
      for (int k = 0; k < it->second; ++k) {
        if (i + 1 >= args.size()) {
          error_ = "option " + a + " needs " + std::to_string(it->second) + " value(s)";
          return;
        }
        vals.push_back(args[++i]);
      }
    } else {
      positional_.push_back(a);
    }
  }
}

std::vector<std::string> Args::values(const std::string& option) const {
  auto it = options_.find(option);
  return it == options_.end() ? std::vector<std::string>{} : it->second;
}

std::string Args::value(const std::string& option, const std::string& fallback) const {
  auto it = options_.find(option);
  return it == options_.end() || it->second.empty() ? fallback : it->second.front();
}

std::optional<double> ToDouble(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long long> ToInt(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return v;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

Json& Json::add(const std::string& key, double value) {
  items_.emplace_back(key, JsonNumber(value));
  return *this;
}
Json& Json::add(const std::string& key, long long value) {
  items_.emplace_back(key, std::to_string(value));
  return *this;
}
Json& Json::add(const std::string& key, const std::string& value) {
  items_.emplace_back(key, JsonString(value));
  return *this;
}
Json& Json::add(const std::string& key, bool value) {
  items_.emplace_back(key, value ? "true" : "false");
  return *this;
}
Json& Json::addRaw(const std::string& key, const std::string& json) {
  items_.emplace_back(key, json);
  return *this;
}
Json& Json::addNull(const std::string& key) {
  items_.emplace_back(key, "null");
  return *this;
}

std::string Json::str() const {
  std::string out = "{";
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i) out += ", ";
    out += JsonString(items_[i].first) + ": " + items_[i].second;
  }
  return out + "}";
}

bool WriteNpy(const std::string& path, const double* data, size_t rows, size_t cols, std::string* error) {
  std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(rows) + ", " +
                       std::to_string(cols) + "), }";
  // Magic (6) + version (2) + length (2) + header, padded with blanks to a multiple of 64, ending in \n.
  const size_t total = 10 + header.size() + 1;
  header.append((64 - total % 64) % 64, ' ');
  header += '\n';
  // Streamed into a temporary file beside the target and renamed over it when
  // whole: a failed or interrupted write leaves the previous file as it was.
  AtomicFile f;
  if (!f.open(path, error)) return false;
  const unsigned char magic[8] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0};
  f.write(magic, 8);
  const uint16_t len = static_cast<uint16_t>(header.size());
  const unsigned char lenBytes[2] = {static_cast<unsigned char>(len & 0xff), static_cast<unsigned char>(len >> 8)};
  f.write(lenBytes, 2);
  f.write(header);
  if (rows * cols) f.write(data, rows * cols * sizeof(double));
  if (!f.commit(error)) return false;
  return true;
}

bool PrepareOutputFolder(const std::string& option, const std::string& dir, std::string* error) {
  namespace fs = std::filesystem;
  if (dir.empty()) {
    *error = option + ": the folder path is empty";
    return false;
  }
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return true;
  if (fs::exists(dir, ec)) {
    *error = option + ": " + dir + " exists and is not a folder";
    return false;
  }
  fs::create_directories(dir, ec);
  if (ec) {
    *error = option + ": cannot create the folder " + dir + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace ps::cli

#include <iostream>

#include "imageio/bmp.h"
#include "polarization/polarization.h"

namespace ps::cli {

void PrintMessages(const std::vector<Message>& messages) {
  for (const Message& m : messages) {
    std::string text = m.text;
    for (size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, "\n");
    std::cerr << (m.title.empty() ? std::string("polarsphere") : m.title) << ": " << text << "\n";
  }
}

bool LoadProcessedSet(const std::vector<std::string>& paths, AppState& state, unsigned definitions,
                      bool keepImages) {
  ProcessOptions options;
  options.definitions = definitions;
  ProcessOutcome processed;
  const bool ok = LoadProcessedSet(paths, state, options, &processed);
  if (!keepImages) state.ImageStore = ImageBuffer();
  return ok;
}

bool LoadProcessedSet(const std::vector<std::string>& paths, AppState& state, const ProcessOptions& options,
                      ProcessOutcome* outcome) {
  const SetLoadOutcome loaded = LoadSet(state, paths);
  PrintMessages(loaded.messages);
  if (!loaded.ok) return false;
  *outcome = ProcessSet(state, options);
  PrintMessages(outcome->messages);
  return outcome->complete;
}

// Encodes the picture as PNG in memory and writes it whole or not at all: a
// full disk or a killed run never leaves a truncated PNG over the previous one.
bool SavePng(const RasterSurface& picture, const std::string& path, std::string* error) {
  const ImageCodecs* codecs = LoadImageCodecs(error);
  if (!codecs) return false;
  std::string png;
  if (!codecs->encodePng(picture.data(), picture.width(), picture.height(), picture.stride(), &png, error)) {
    *error += " for " + path;
    return false;
  }
  return WriteFileAtomically(path, png, error);
}

std::optional<SphereCircle> CircleOption(const Args& args) {
  const auto v = args.values("--circle");
  const auto cx = ToDouble(v[0]), cy = ToDouble(v[1]), r = ToDouble(v[2]);
  if (!cx || !cy || !r || *r <= 0) {
    std::cerr << "--circle needs CX CY R in map cells, R above 0\n";
    return std::nullopt;
  }
  return SphereCircle{*cx, *cy, *r};
}

}  // namespace ps::cli
