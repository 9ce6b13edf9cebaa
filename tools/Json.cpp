#include "Json.h"

#include "Diagnosis.h"
#include "SourcePath.h"
#include "base/Utf8Codec.h"

#include <cstdint>
#include <cstdio>

namespace qtool {
namespace {

std::string Escape(unsigned unit) {
    char text[16];
    std::snprintf(text, sizeof text, "\\u%04x", unit);
    return text;
}

std::string Field(const char* name, const std::string& value) {
    return std::string("\"") + name + "\":" + value;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            ++at;
            switch (byte) {
                case '"':
                    json += "\\\"";
                    break;
                case '\\':
                    json += "\\\\";
                    break;
                case '\n':
                    json += "\\n";
                    break;
                case '\r':
                    json += "\\r";
                    break;
                case '\t':
                    json += "\\t";
                    break;
                default:
                    if (byte < 0x20 || byte == 0x7F)
                        json += Escape(byte);
                    else
                        json += static_cast<char>(byte);
            }
            continue;
        }
        char32_t value = 0;
        const std::size_t size = quorlin::Utf8CharacterAt(text.data(), text.size(), at, value);
        if (size == 0) {
            json += Escape(0xDC00 + byte);  // one byte that is not UTF-8
            ++at;
        } else if (value >= 0x10000) {
            json += Escape(0xD800 + ((value - 0x10000) >> 10));
            json += Escape(0xDC00 + ((value - 0x10000) & 0x3FF));
            at += size;
        } else {
            json += Escape(value);
            at += size;
        }
    }
    return json + "\"";
}

std::vector<JsonPath> JsonPaths(const std::vector<std::string>& given,
                                const std::vector<std::string>& resolved,
                                const std::vector<std::string>& snapshots) {
    std::vector<JsonPath> paths;
    for (std::size_t i = 0; i < given.size() && i < resolved.size() && i < snapshots.size(); ++i)
        paths.push_back({given[i], snapshots[i], VolumeOf(resolved[i], snapshots[i])});
    return paths;
}

std::string SuccessJson(const std::string& setId, const std::vector<JsonPath>& paths,
                        const std::string& instant) {
    std::string json = "{\"ok\":true," + Field("set", JsonString(setId)) + ",\"paths\":[";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        json += i == 0 ? "{" : ",{";
        json += Field("source", JsonString(paths[i].source)) + ",";
        json += Field("snapshot", JsonString(paths[i].snapshot)) + ",";
        json += Field("volume", JsonString(paths[i].volume)) + "}";
    }
    return json + "]," + Field("instant", instant) + "}";
}

std::string FailureJson(const Failure& failure, const std::string& sentence) {
    std::string result = "null";
    std::string code = "null";
    std::string report = "null";
    if (failure.FromLibrary()) {
        result = std::to_string(failure.Result());
        report = JsonString(failure.Report());
        if (const unsigned long reported = failure.Code()) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\"0x%08x\"", static_cast<unsigned>(reported));
            code = hex;
        }
    }
    return "{\"ok\":false," + Field("exit", std::to_string(failure.ExitCode())) + "," +
           Field("result", result) + "," + Field("code", code) + "," + Field("report", report) +
           "," + Field("sentence", JsonString(sentence)) + "}";
}

}  // namespace qtool
