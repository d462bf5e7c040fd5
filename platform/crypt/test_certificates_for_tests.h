// Two fixed self-signed X.509 certificates (P-256 keys, DER), each with its
// subject public key bits and its SHA-1 thumbprint as OpenSSL's command
// line printed them when the certificates were made, for tests of the
// certificate contexts and of the certificate requests that use them.
//
//   std::vector<BYTE> der = HexBytes(kTestCaCertificateHex);
//
// Constants and pure functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/types.h"

// "CN=Test CA".
inline constexpr const char kTestCaCertificateHex[] =
    "3082017a30820121a003020102021436ca6bdd6d328ed49ead8410230f274404bb652f300a06082a8648ce3d040302301231"
    "10300e06035504030c07546573742043413020170d3236313231303138353230365a180f3231323631313136313835323036"
    "5a30123110300e06035504030c07546573742043413059301306072a8648ce3d020106082a8648ce3d03010703420004b654"
    "946460ce615a32e25026fa943fa6cfde19611fcf613cf1ad1440c8e59fb8407033e5cc1997e3b7b4be0a13c11d0d652cc755"
    "74848453dfb9e4e6f1672346a3533051301d0603551d0e041604143f92164be6701820033e6c7a7024194b14057a92301f06"
    "03551d230418301680143f92164be6701820033e6c7a7024194b14057a92300f0603551d130101ff040530030101ff300a06"
    "082a8648ce3d0403020347003044022079783a0ec06d69e0c75ed9ff0cf48592b711bf0ecc5f9d1253b02bce885b05ce0220"
    "08837ed00c4350764ed90fbc7d723daabe357a169a724e99d4be04b794744364";
inline constexpr const char kTestCaPublicKeyHex[] =
    "04b654946460ce615a32e25026fa943fa6cfde19611fcf613cf1ad1440c8e59fb8407033e5cc1997e3b7b4be0a13c11d0d65"
    "2cc75574848453dfb9e4e6f1672346";
inline constexpr const wchar_t kTestCaThumbprint[] = L"8b0ef855db1e3d47e38d0cb56bd6cbc401b96b5e";

// "CN=Test Device".
inline constexpr const char kTestDeviceCertificateHex[] =
    "3082018230820129a00302010202145304fbbd058655b52fe63e30067a42a2996128f1300a06082a8648ce3d040302301631"
    "14301206035504030c0b54657374204465766963653020170d3236313231303138353231315a180f32313236313131363138"
    "353231315a30163114301206035504030c0b54657374204465766963653059301306072a8648ce3d020106082a8648ce3d03"
    "010703420004263300f9ca46be41adcfcb8a873d79586d088beb4a501d702418f26180e10434179e162b7cebdacb526c5f38"
    "2418540d9898d5c3932c8c73ec616de1ff1cb49da3533051301d0603551d0e041604142bfba5d669f1b05dc522dde172e5a6"
    "9f7d0fa43c301f0603551d230418301680142bfba5d669f1b05dc522dde172e5a69f7d0fa43c300f0603551d130101ff0405"
    "30030101ff300a06082a8648ce3d04030203470030440220217397d99fa60323883e50ef285b31b320cac80043f2a945e7ae"
    "331b906afdf20220642ca2c998dea82e58cb5a9379cffc1e5d95b5d307f46e0cace0fc7a8b86e4ee";
inline constexpr const char kTestDevicePublicKeyHex[] =
    "04263300f9ca46be41adcfcb8a873d79586d088beb4a501d702418f26180e10434179e162b7cebdacb526c5f382418540d98"
    "98d5c3932c8c73ec616de1ff1cb49d";
inline constexpr const wchar_t kTestDeviceThumbprint[] = L"17ad37148d1726050ddc2d1b4a8ccaf8764574d0";

// The bytes of a text of hexadecimal digit pairs.
inline std::vector<BYTE> HexBytes(const std::string& hex) {
  std::vector<BYTE> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}
