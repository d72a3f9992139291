#pragma once
// Dictation files (".dct"): a small container of ours around a WAVE file.
//
//   u16 version      below 4
//   u32 total size   must equal the file's size
//   u16 flags        from version 2 on, 2 marks an encrypted file
//   u16 channels     never 0
//   u32 notes bytes, then the notes text
//   u16 attachments, each: u16 name bytes, name, u32 data bytes, data
//   the audio: a WAVE file up to the end
//
// All fields little-endian; every size is checked against what the file holds.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "platform/byte_source.h"

namespace quillet::formats {

inline constexpr std::string_view kDctErrorCaption = "DCT File load error";

struct DctAttachment {
  std::string name;
  std::uint64_t offset = 0;  // of the data in the file
  std::uint32_t bytes = 0;
};

struct DctLayout {
  std::uint16_t version = 0;
  std::uint16_t flags = 0;
  std::uint16_t channels = 0;
  std::string notes;
  std::vector<DctAttachment> attachments;
  std::uint64_t audioOffset = 0;
  std::uint64_t audioBytes = 0;
};

// Ready, or Corrupt with *message set to what the person is told.
audio::SoundStatus ParseDct(platform::ByteSource& bytes, DctLayout* layout, std::string* message);

// The audio of a dictation file as a source (the WAVE reader over the audio part).
// On failure a source with the status, and *message set when the container itself is
// at fault (the WAVE reader's statuses speak for themselves otherwise).
audio::SourceHandle OpenDctSource(std::shared_ptr<platform::ByteSource> bytes, std::string* message);
audio::SourceHandle OpenDctFile(const std::filesystem::path& file, std::string* message);

// A dictation file holding wave (the bytes of a WAVE file), for tests and tools.
std::string BuildDct(std::string_view wave, std::uint16_t version = 3, std::uint16_t flags = 0,
                     std::uint16_t channels = 1, std::string_view notes = {},
                     const std::vector<std::pair<std::string, std::string>>& attachments = {});

}  // namespace quillet::formats
