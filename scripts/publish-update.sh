#!/usr/bin/env bash
# Turns a build into an update service that any static web server can serve: OUT/common/update.php
# (the manifest; a static file, the query is ignored), OUT/common/update.php.sig (the Ed25519 signature
# of the manifest's exact bytes, base64) and OUT/files/ with the offered files, each entry carrying its
# size and an Ed25519 signature made with the maker's private key. The manifest expires after
# --expires-days days (default 30): publish again before then, or installs stop seeing the offer.
#
#   scripts/publish-update.sh --key maker.pem --version 1.01 --base-url https://updates.example.com \
#       --out site --caption Mistvale --info en "Mistvale 1.01 is available. Install it now?" \
#       --restart en "Mistvale was updated. Start the new version now?" --file build/mistvale
#
# Entries: --file PATH (installed as its own name), --zip ARCHIVE NAME (unpacked into the program's
# folder; NAME is the file it replaces), --run PATH (downloaded to the temporary folder and opened).
# Texts: --caption TEXT, --info LANG TEXT, --restart LANG TEXT, --help URL (https:// only), --execute NAME
# (a file the update installs). --expires-days N.
# The public key a build must carry:  scripts/publish-update.sh --public-key maker.pem
# Each signature covers SHA-256(file) || version || NUL || entry name (the name, else the zip name,
# else the run file's name), so a signed file cannot be offered as another version or under another name.
set -euo pipefail

die() { echo "publish-update: $*" >&2; exit 1; }
command -v openssl >/dev/null || die "openssl is needed"

if [ "${1:-}" = "--public-key" ]; then
    [ -f "${2:-}" ] || die "no key file"
    openssl pkey -in "$2" -pubout -outform DER | tail -c 32 | base64 -w0
    echo
    exit 0
fi

key="" version="" base="" out="" caption="" help="" execute="" days=30
infos=() restarts=() entries=()
while [ $# -gt 0 ]; do
    case "$1" in
    --key) key=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --base-url) base=${2%/}; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --caption) caption=$2; shift 2 ;;
    --help) help=$2; shift 2 ;;
    --execute) execute=$2; shift 2 ;;
    --expires-days) days=$2; shift 2 ;;
    --info) infos+=("$2" "$3"); shift 3 ;;
    --restart) restarts+=("$2" "$3"); shift 3 ;;
    --file) entries+=("file" "$2" ""); shift 2 ;;
    --zip) entries+=("zip" "$2" "$3"); shift 3 ;;
    --run) entries+=("run" "$2" ""); shift 2 ;;
    *) die "unknown argument $1" ;;
    esac
done
[ -f "$key" ] || die "--key: no private key file (openssl genpkey -algorithm ed25519 -out maker.pem)"
[[ "$version" =~ ^[0-9]+\.[0-9]+$ ]] || die "--version must be two numbers, e.g. 1.01"
[ -n "$base" ] && [ -n "$out" ] || die "--base-url and --out are needed"
[ ${#entries[@]} -gt 0 ] || die "no --file, --zip or --run entry"
[[ "$days" =~ ^-?[0-9]+$ ]] || die "--expires-days must be a whole number"
[ -z "$help" ] || [[ "$help" == https://* ]] || die "--help must be an https:// address"
expires=$(date -u -d "@$(($(date +%s) + days * 86400))" +%Y-%m-%dT%H:%M:%SZ)

xml() { # escapes text for an attribute or element
    local s=$1
    s=${s//&/"&amp;"}; s=${s//</"&lt;"}; s=${s//>/"&gt;"}; s=${s//\"/"&quot;"}
    printf '%s' "$s"
}
plain() { # a plain file name, as the program accepts it
    [[ -n "$1" && "$1" != .* && "$1" != */* && "$1" != *\\* && "$1" != *..* ]] || die "not a plain file name: $1"
}
sign() { # file, signed name -> base64 signature
    local message
    message=$(mktemp)
    { openssl dgst -sha256 -binary "$1"; printf '%s\0%s' "$version" "$2"; } >"$message"
    openssl pkeyutl -sign -rawin -inkey "$key" -in "$message" | base64 -w0
    rm -f "$message"
}

mkdir -p "$out/common" "$out/files"
files=""
for ((i = 0; i < ${#entries[@]}; i += 3)); do
    kind=${entries[i]} path=${entries[i + 1]} target=${entries[i + 2]}
    [ -f "$path" ] || die "no such file: $path"
    file=$(basename "$path")
    plain "$file"
    cp "$path" "$out/files/$file"
    size=$(stat -c %s "$path")
    case "$kind" in
    file) attrs="name=\"$(xml "$file")\""; signed=$file ;;
    zip) plain "$target"; attrs="name=\"$(xml "$target")\" zip=\"$(xml "$file")\""; signed=$target ;;
    run) attrs=""; signed=$file ;;
    esac
    files+="<url $attrs size=\"$size\" signature=\"$(sign "$path" "$signed")\">$(xml "$base/files/$file")</url>"
done
[ -n "$execute" ] && files+="<execute>$(xml "$execute")</execute>"

texts() { # element name, then language/text pairs
    local name=$1; shift
    [ $# -gt 0 ] || return 0
    printf '<%s>' "$name"
    while [ $# -gt 0 ]; do printf '<%s>%s</%s>' "$1" "$(xml "$2")" "$1"; shift 2; done
    printf '</%s>' "$name"
}
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<update>'
    [ -n "$caption" ] && printf '<application>%s</application>' "$(xml "$caption")"
    texts info "${infos[@]}"
    texts restart "${restarts[@]}"
    [ -n "$help" ] && printf '<help>%s</help>' "$(xml "$help")"
    printf '<version>%s</version><expires>%s</expires><files>%s</files></update>\n' "$version" "$expires" "$files"
} >"$out/common/update.php"
# The signature covers the manifest's bytes exactly as they are served.
openssl pkeyutl -sign -rawin -inkey "$key" -in "$out/common/update.php" | base64 -w0 >"$out/common/update.php.sig"
echo "published $version to $out (serve it at $base; it expires $expires)"
