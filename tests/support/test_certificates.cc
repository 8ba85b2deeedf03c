#include "support/test_certificates.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

namespace brindle::test {
namespace {

// Paths come from mkdtemp, so single quotes are enough.
void Run(const std::string& command) {
  const std::string quiet = command + " >/dev/null 2>&1";
  if (std::system(quiet.c_str()) != 0) throw std::runtime_error("openssl failed: " + command);
}

}  // namespace

TestCertificates::TestCertificates(const std::string& dir)
    : Dir(dir),
      CaFile(dir + "/ca.pem"),
      Key(dir + "/server.key"),
      Good(dir + "/good.pem"),
      Expired(dir + "/expired.pem"),
      WrongName(dir + "/wrong-name.pem"),
      CommonNameOnly(dir + "/common-name-only.pem"),
      SelfSigned(dir + "/self-signed.pem") {
  const std::string q = "'" + dir + "/";
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  Run("openssl req -x509" + ec + " -keyout " + q + "ca.key' -out " + q + "ca.pem' -days 30" +
      " -subj '/CN=Brindle Test Authority' -addext 'basicConstraints=critical,CA:TRUE'" +
      " -addext 'keyUsage=critical,keyCertSign,cRLSign'");
  Run("openssl req" + ec + " -keyout " + q + "server.key' -out " + q + "local.csr' -subj '/CN=localhost'");
  Run("openssl req -new -key " + q + "server.key' -out " + q + "other.csr' -subj '/CN=elsewhere.invalid'");
  WriteWholeFile(dir + "/local.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
  WriteWholeFile(dir + "/other.ext", "subjectAltName=DNS:elsewhere.invalid\n");
  const std::string byCa = " -CA " + q + "ca.pem' -CAkey " + q + "ca.key' -CAcreateserial -CAserial " + q + "ca.srl'";
  Run("openssl x509 -req -in " + q + "local.csr'" + byCa + " -days 30 -extfile " + q + "local.ext' -out " + q +
      "good.pem'");
  // A negative validity ends before it begins: expired from the start.
  Run("openssl x509 -req -in " + q + "local.csr'" + byCa + " -days -1 -extfile " + q + "local.ext' -out " + q +
      "expired.pem'");
  Run("openssl x509 -req -in " + q + "other.csr'" + byCa + " -days 30 -extfile " + q + "other.ext' -out " + q +
      "wrong-name.pem'");
  Run("openssl x509 -req -in " + q + "local.csr'" + byCa + " -days 30 -out " + q + "common-name-only.pem'");
  Run("openssl x509 -req -in " + q + "local.csr' -key " + q + "server.key' -days 30 -extfile " + q +
      "local.ext' -out " + q + "self-signed.pem'");
  // nginx's workers may run as nobody.
  chmod(dir.c_str(), 0755);
  for (const std::string& file : {Key, Good, Expired, WrongName, CommonNameOnly, SelfSigned, CaFile}) chmod(file.c_str(), 0644);
}

const TestCertificates& SharedTestCertificates() {
  static const TempDir dir;
  static const TestCertificates certs(dir.Path());
  return certs;
}

TrustTestAuthority::TrustTestAuthority(const TestCertificates& certs) {
  const std::string emptyDir = certs.Dir + "/no-authorities";
  mkdir(emptyDir.c_str(), 0755);
  Set("SSL_CERT_FILE", certs.CaFile);
  Set("SSL_CERT_DIR", emptyDir);
}

}  // namespace brindle::test
