#pragma once
// One-call JSON reading for text and bytes. Each call uses a decoder of its own, so these are safe
// from any thread; errors carry the names of JSONCodecProfile::current().
#include <optional>
#include <string_view>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

std::optional<os::Value> objectFromJSONString(std::string_view text);
std::optional<os::Value> objectFromJSONStringWithParseOptions(std::string_view text, unsigned parseOptions, os::Error* error = nullptr);
std::optional<os::Value> mutableObjectFromJSONString(std::string_view text);
std::optional<os::Value> mutableObjectFromJSONStringWithParseOptions(std::string_view text, unsigned parseOptions, os::Error* error = nullptr);

std::optional<os::Value> objectFromJSONData(const os::Data& data);
std::optional<os::Value> objectFromJSONDataWithParseOptions(const os::Data& data, unsigned parseOptions, os::Error* error = nullptr);
std::optional<os::Value> mutableObjectFromJSONData(const os::Data& data);
std::optional<os::Value> mutableObjectFromJSONDataWithParseOptions(const os::Data& data, unsigned parseOptions, os::Error* error = nullptr);
