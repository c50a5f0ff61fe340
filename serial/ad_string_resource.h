#pragma once
// TAdStringResource: reader of one embedded "STR0" string table. The table is "STR0", an entry
// count, then per entry its identifier, text offset and text length (UTF-16 units), sorted by
// identifier; the texts follow in UTF-16LE. Lookups hand the text back in the 8-bit character set.

#include "serial/embedded_resources.h"

#include <stdexcept>
#include <string>
#include <string_view>

// A string table that is missing, cannot be loaded or is malformed. Not an EAPDException.
class EStringResourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAdStringResource {
public:
    // Finds ResourceName in Module, else among the program's own resources. Raises
    // EStringResourceError when it is found in neither, cannot be loaded, or is no string table.
    TAdStringResource(TResourceModule Module, std::string_view ResourceName);

    // The text of Id; empty when the table has no such identifier, unless RaiseOnMissing is set.
    std::string Lookup(int Id) const;

    bool RaiseOnMissing() const { return raiseOnMissing_; }
    void SetRaiseOnMissing(bool Value) { raiseOnMissing_ = Value; }

private:
    const unsigned char* Lock() const;

    TResourceModule module_; // the module the table was found in
    const EmbeddedResource* resource_ = nullptr;
    bool raiseOnMissing_ = false;
};

// The process-wide readers, created on first use: the serial layer's message table
// ("RUVO_ERROR_STRINGS_ENGLISH") and the reader's own messages ("ADSRMGR_STRINGS").
const TAdStringResource& ErrorStringResource();
const TAdStringResource& StringResourceMessages();
