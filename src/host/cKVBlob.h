// The host's stored files (table KVBLOB): activity attachments by their file key, and contact
// persons' pictures by their address key.
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace fern {

class cKVBlob : public Dispatch {
 public:
  // Writes the stored file to `target` (replacing it through a temporary file beside it).
  // HostError 53 naming the key when no file is stored under it.
  void GetSingleFileByBlobDsn(const std::string& connect, const std::string& fileDsn,
                              const std::string& target) const;
  // The address's picture written to a file in the temp folder; "" when it has none.
  std::string GetContactPicture(const std::string& connect, const std::string& adDsn) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cKVBlob"; }
};

}  // namespace fern
