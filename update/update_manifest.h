#pragma once
// The update service's manifest: what it offers, in which words, and which files make up the offer.
#include <string>
#include <vector>

#include "platform/wide_string.h"
#include "update/update_version.h"

namespace mistvale {

struct UpdateFileEntry {
    WideString url;       // the download address (the element's text)
    WideString name;      // target file in the program's folder; empty: a file to run
    WideString zip;       // an archive downloaded instead and unpacked into the program's folder
    WideString signature; // base64 Ed25519 signature (see update_signature.h)
    long long size = -1;  // the most bytes the download may have; -1 when not given
};

struct UpdateManifest {
    WideString caption;     // "update\application"
    WideString info;        // localized "update\info"
    WideString help;        // "update\help"; only an https:// address is kept
    WideString versionText; // "update\version" as written
    UpdateVersion version;
    std::vector<UpdateFileEntry> files; // document order
    WideString execute;                 // "update\files\execute"
    bool hasRestart = false;            // a localized "update\restart" exists
    WideString restart;
    long long expires = 0; // "update\expires" (UTC, "2027-01-08T12:00:00Z") in seconds since 1970; 0: none
};

enum class ManifestResult {
    Ok,
    NotXml,     // the bytes are no XML document
    NoInfo,     // neither the language's nor the English info text
    NoVersion,  // "update\version" missing or not two numbers
    UnsafeName, // an entry's name or zip is a path, not a plain file name
    NoSize,     // an entry without the size its download may have
};

// Parses the reply's bytes (encoding from the byte-order mark or declaration). `language` is the user
// interface's two-letter code ("de"); localized texts are taken from that child, then from "en".
ManifestResult ParseUpdateManifest(const std::string& bytes, const WideString& language, UpdateManifest& out);

// A plain file name: not empty, no "/" or "\", no ".." and no leading ".", no control characters.
bool IsPlainFileName(const WideString& name);

} // namespace mistvale
