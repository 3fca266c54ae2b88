#!/bin/sh
# Signs copies of the Windows launcher with a throwaway certificate through
# the build's signing step (cmake/QuintabelSign.cmake), once with a
# certificate and key and once with a PKCS#12 file and its password, and
# checks each with osslsigncode verify. Then packs a new bundle into the
# signed launcher: the output carries no signature (the old one no longer
# covers it), and it can be signed and verified in turn.
#   packaging_sign_test.sh CMAKE SOURCE_DIR LAUNCHER.exe BUNDLE.zip PACK...
set -u
cmake=$1
source_dir=$2
launcher=$3
bundle=$4
shift 4
. "$(dirname "$0")/shell_test_support.sh"
make_scratch sign
cd "$scratch" || fail "no scratch folder"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Quintabel throwaway signer" -addext "extendedKeyUsage=codeSigning" > openssl.txt 2>&1 \
  || { cat openssl.txt; fail "openssl cannot make a certificate"; }
printf 'pass word\n' > password.txt
openssl pkcs12 -export -in cert.pem -inkey key.pem -out signer.p12 -passout file:password.txt > openssl.txt 2>&1 \
  || { cat openssl.txt; fail "openssl cannot make a PKCS#12 file"; }

sign() {  # file cmake-definitions...
  file=$1
  shift
  "$cmake" "-DFILE=$file" "$@" -DPRODUCT=Quintabel -P "$source_dir/cmake/QuintabelSign.cmake" > sign.txt 2>&1 \
    || { cat sign.txt; fail "the signing step failed for $file"; }
}
verified() {  # file
  osslsigncode verify -CAfile cert.pem -in "$1" > verify.txt 2>&1
}

cp "$launcher" key-signed.exe
sign key-signed.exe -DCERT=cert.pem -DKEY=key.pem
verified key-signed.exe || { cat verify.txt; fail "a launcher signed with certificate and key does not verify"; }
echo "ok: signed with certificate and key, verified"

cp "$launcher" p12-signed.exe
sign p12-signed.exe -DPKCS12=signer.p12 -DPASSWORD_FILE=password.txt
verified p12-signed.exe || { cat verify.txt; fail "a launcher signed with a PKCS#12 file does not verify"; }
echo "ok: signed with a PKCS#12 file and its password, verified"

# Signing again replaces the signature (one signature, still valid).
sign p12-signed.exe -DCERT=cert.pem -DKEY=key.pem
verified p12-signed.exe && grep -q "Number of verified signatures: 1" verify.txt \
  || { cat verify.txt; fail "a signed launcher signed again does not carry one valid signature"; }
echo "ok: signing a signed launcher replaces its signature"

# A signed file changed behind the signature's back fails the check.
cp key-signed.exe tampered.exe
printf 'X' | dd of=tampered.exe bs=1 seek=1024 conv=notrunc 2>/dev/null
if verified tampered.exe; then fail "a changed signed file still verifies"; fi
echo "ok: a changed signed file does not verify"

"$@" --launcher key-signed.exe --bundle "$bundle" --output packed.exe > pack.txt 2>&1 \
  || { cat pack.txt; fail "quintabel-pack refused a signed launcher"; }
grep -q "signature was dropped" pack.txt || { cat pack.txt; fail "quintabel-pack did not say the signature went"; }
if osslsigncode extract-signature -in packed.exe -out sig.der > /dev/null 2>&1; then
  fail "the packed launcher still carries the old signature"
fi
echo "ok: the packed launcher carries no signature"
sign packed.exe -DCERT=cert.pem -DKEY=key.pem
verified packed.exe || { cat verify.txt; fail "the packed launcher, signed, does not verify"; }
echo "ok: the packed launcher signs and verifies"
echo "PASS"
