#!/usr/bin/env bash
# scripts/release on copies of the sources: release-test.sh SOURCE_DIR WORK_DIR SCENARIO.
#   reproducible  two copies in different folders, released one after the other in different
#                 time zones and with different umasks, give the same bytes
#   signed        a release signed with a throwaway self-signed certificate verifies, and its
#                 exe is the unsigned one with nothing but the signature added
set -euo pipefail

source=$1 work=$2 scenario=$3
# A release takes the sources' time from git; the copies are no checkouts.
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH

# shellcheck source=../report.sh
source "$(dirname "$0")/../report.sh"

# copy_sources FOLDER: the sources as they are now, without their builds, as a fresh clone.
copy_sources() {
    rm -rf "$1"
    mkdir -p "$1"
    tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
}

# release_in FOLDER [VARIABLE=VALUE...]: scripts/release in a copy, with no signing settings
# but those given; its output goes to FOLDER.log and, when it fails, to the report.
release_in() {
    local folder=$1
    shift
    if ! env -u VELKRA_SIGN_PKCS12 -u VELKRA_SIGN_PASSWORD -u VELKRA_SIGN_TIMESTAMP_URL "$@" \
        "$folder/scripts/release" >"$folder.log" 2>&1 </dev/null; then
        sed 's/^/    release: /' "$folder.log"
        return 1
    fi
}

# elsewhere COMMAND...: the command with another time zone and umask than this script has.
elsewhere() {
    (
        umask 077
        export TZ=Pacific/Kiritimati
        "$@"
    )
}

not() {
    ! "$@"
}

same_files() {
    local first second
    first=$(cd "$1" && ls) second=$(cd "$2" && ls)
    echo "    $(echo $first)"
    [ -n "$first" ] && [ "$first" = "$second" ]
}

# resolves_through_debug_link RELEASE: the address of the entry function, looked up in the
# symbol file, reads back through the stripped exe's debug link as that function and a line of
# its source, named relative to the source folder, where a debugger started there finds it.
resolves_through_debug_link() {
    local address function place
    address=$(i686-w64-mingw32-nm "$1/VelkraInstall.exe.debug" |
        awk '$3 == "_wWinMain@16" {print $1}')
    [ -n "$address" ] || return 1
    { read -r function && read -r place; } < <(
        i686-w64-mingw32-addr2line -f -e "$1/VelkraInstall.exe" "0x$address")
    echo "    0x$address: $function at $place"
    while [[ $place == ./* ]]; do
        place=${place#./}
    done
    [ "$function" = wWinMain@16 ] && [[ $place == platform/win32/Main.cpp:[1-9]* ]]
}

passes_release_structure_check() {
    /usr/bin/python3 "$source/tests/pe/check_exe.py" "$1/VelkraInstall.exe" i686 "$2" --release |
        grep -v '^ok: ' | sed 's/^/    /'
    [ "${PIPESTATUS[0]}" -eq 0 ]
}

# zip_holds ZIP FILE: ZIP holds FILE, under its name, byte for byte.
zip_holds() {
    /usr/bin/python3 -c 'import sys, zipfile
packed = zipfile.ZipFile(sys.argv[1]).read(sys.argv[2])
sys.exit(packed != open(sys.argv[3], "rb").read())' "$1" "${2##*/}" "$2"
}

# verifies EXE CERTIFICATE: osslsigncode accepts EXE's signature, made with CERTIFICATE.
verifies() {
    local log status=0
    log=$(osslsigncode verify -CAfile "$2" -in "$1" 2>&1) || status=$?
    grep -E 'Subject|Text description|Signature verification' <<<"$log" | sed 's/^\s*/    /'
    return $status
}

# signature_fits SIGNED UNSIGNED: SIGNED's signature, attached to UNSIGNED, gives SIGNED.
signature_fits() {
    osslsigncode extract-signature -in "$1" -out "$work/signed/signature.der" >/dev/null &&
        osslsigncode attach-signature -sigin "$work/signed/signature.der" -CAfile "$certificate" \
            -in "$2" -out "$work/signed/attached.exe" >/dev/null &&
        cmp "$work/signed/attached.exe" "$1"
}

case "$scenario" in
    reproducible)
        # Folders of different lengths and depths, one with a space in its path.
        first=$work/first/velkra
        second="$work/second/a longer folder/velkra"
        copy_sources "$first"
        copy_sources "$second"
        check "the first copy makes a release" release_in "$first"
        check "the second copy makes a release, later, in another time zone and umask" \
            elsewhere release_in "$second"
        check "an unsigned release says so" grep -q '^UNSIGNED: ' "$first.log"
        a=$first/build/release
        b=$second/build/release
        check "both releases hold the same files" same_files "$a" "$b"
        for file in "$a"/*; do
            check "${file##*/} is the same in both" cmp "$file" "$b/${file##*/}"
        done
        version=$(cat "$first/build/windows-x86-release/version.txt" 2>/dev/null || true)
        check "the exe passes the structure check of a release" \
            passes_release_structure_check "$a" "$version"
        check "the stripped exe's symbols resolve through its debug link" \
            resolves_through_debug_link "$a"
        ;;
    signed)
        # osslsigncode 2.5 writes no file that is there already.
        rm -rf "$work/signed"
        folder=$work/signed/velkra
        copy_sources "$folder"
        # A throwaway self-signed code-signing certificate, in a PKCS#12 file as a real one comes.
        key=$work/signed/key.pem certificate=$work/signed/certificate.pem
        pkcs12=$work/signed/certificate.p12 password='throw away; $not a variable'
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Velkra Installer test' \
            -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature \
            -keyout "$key" -out "$certificate" 2>/dev/null
        openssl pkcs12 -export -inkey "$key" -in "$certificate" -out "$pkcs12" \
            -passout "pass:$password"

        release=$folder/build/release
        check "the signed release" release_in "$folder" \
            VELKRA_SIGN_PKCS12="$pkcs12" VELKRA_SIGN_PASSWORD="$password"
        check "it does not call itself unsigned" not grep -q '^UNSIGNED' "$folder.log"
        check "osslsigncode verifies the signature" \
            verifies "$release/VelkraInstall.exe" "$certificate"
        version=$(cat "$folder/build/windows-x86-release/version.txt" 2>/dev/null || true)
        check "the signed exe passes the structure check of a release" \
            passes_release_structure_check "$release" "$version"
        check "SHA256SUMS holds the signed exe and the zip" \
            bash -c 'cd "$1" && sha256sum --check --strict --quiet SHA256SUMS' - "$release"
        check "the zip holds the signed exe" zip_holds "$release"/*.zip "$release/VelkraInstall.exe"
        # Anyone can check a signed download against a build of their own: the exe an unsigned
        # release of the same sources ships is the one the release signed.
        check "the signed exe is the unsigned one with its signature attached" \
            signature_fits "$release/VelkraInstall.exe" \
            "$folder/build/windows-x86-release/VelkraInstall-stripped.exe"
        ;;
    *)
        echo "unknown scenario $scenario" >&2
        exit 2
        ;;
esac
finish
