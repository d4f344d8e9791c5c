// Uploads one file the way the station does (connect, change directory, upload under a
// temporary name and rename), to check a server's settings by hand or from scripts. SERVER takes
// the station's schemes, sftp:// included (an empty password line then means the SSH keys). The password
// is read from standard input, so that it appears in no process list.
// usage: qor-ftpput SERVER ACCOUNT DIRECTORY FILE < password

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/program_arguments.h"
#include "base/utf8_path.h"
#include "publish/ftp_client.h"

int main(int argc, char** argv) {
  // The name it was run by: qor-ftpput once installed, ftpput in the build tree.
  const std::string program = Utf8Text(Utf8Path(argv[0] ? argv[0] : "ftpput").stem());
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);  // UTF-8, Windows too
  if (arguments.size() == 1 && arguments[0] == "--help") {
    std::printf("usage: %s SERVER ACCOUNT DIRECTORY FILE < password\n", program.c_str());
    return 0;
  }
  if (arguments.size() != 4) {
    std::fprintf(stderr, "usage: %s SERVER ACCOUNT DIRECTORY FILE < password\n", program.c_str());
    return 2;
  }
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  const std::string& file = arguments[3];
  // The file's own name, after the system's separators (Windows has two).
  const std::string name = Utf8Text(Utf8Path(file).filename());

  FtpClient ftp;
  const auto step = [&](const char* what, int16_t result) {
    for (const std::string& note : ftp.TakeNotes()) std::fprintf(stderr, "%s: %s\n", program.c_str(), note.c_str());
    if (result == -1) return true;
    std::fprintf(stderr, "%s: %s NG:%d\n", program.c_str(), what, ftp.FtpGetLastError());
    return false;
  };
  if (!step("FTP open", ftp.FtpConnect(arguments[0], arguments[1], password))) return 1;
  if (!step("Set CD", ftp.FtpSetCD(arguments[2]))) return 1;
  if (!step("Put bin", ftp.FtpPutBin(file, name))) return 1;
  ftp.FtpDisconnect();
  std::printf("Put bin OK\n");
  return 0;
}
