#!/bin/sh
# Signs a Windows executable in place with Authenticode (SHA-256).
#   sign.sh EXECUTABLE CERTIFICATE KEY
# SIGNING_PASSWORD_FILE names a file with the key's password; SIGNING_TIMESTAMP_URL
# an RFC 3161 service to countersign with. OSSLSIGNCODE overrides the tool.
# On failure the executable is removed, so that the next build links and signs
# it again instead of leaving it unsigned.
set -eu
executable=$1
certificate=$2
key=$3
tool=${OSSLSIGNCODE:-osslsigncode}

set -- sign -h sha256 -n "Lindquay updater" -certs "$certificate" -key "$key"
if [ -n "${SIGNING_PASSWORD_FILE:-}" ]; then
  set -- "$@" -readpass "$SIGNING_PASSWORD_FILE"
fi
if [ -n "${SIGNING_TIMESTAMP_URL:-}" ]; then
  set -- "$@" -ts "$SIGNING_TIMESTAMP_URL"
fi

signed="$executable.signed"
rm -f "$signed"
if ! "$tool" "$@" -in "$executable" -out "$signed" >/dev/null; then
  echo "sign.sh: signing $executable failed" >&2
  rm -f "$signed" "$executable"
  exit 1
fi
mv -f "$signed" "$executable"
