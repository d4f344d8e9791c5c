#include "app/start_stop.h"

#include "fits/text_numbers.h"

std::string LiveStartText(int16_t frame_counter) { return "Live start   " + NumberAsText(frame_counter); }

void Command1_Click(StationControls& window, FtpClient& ftp, FrameStore& store) {
  window.SetStatusText(LiveStartText(window.FrameCounter()));
  store.LiveFilePath = window.LivePathText();
  const std::string server = window.ServerText();
  const std::string account = window.AccountText();
  const std::string password = window.PasswordText();

  ftp.LimitCallsTo(std::chrono::steady_clock::now() + ftp.timeouts().operation);
  bool connected = false;
  window.Await([&] { connected = ftp.FtpConnect(server, account, password) == -1; });
  for (const std::string& note : ftp.TakeNotes()) window.NoteText(note);
  if (connected)
    window.SetStatusText("FTP open OK");
  else
    window.SetStatusText("FTP open NG:" + std::to_string(ftp.FtpGetLastError()));

  bool changed = false;
  window.Await([&] { changed = ftp.FtpSetCD(kRemoteDirectory) == -1; });
  if (changed)
    window.SetStatusText(window.StatusText() + " / Set CD OK");
  else
    window.SetStatusText(window.StatusText() + " / Set CD NG:" + std::to_string(ftp.FtpGetLastError()));

  window.RunLiveCycle();
  window.SetTimerEnabled(true);
}

void Command2_Click(StationControls& window, FtpClient& ftp) {
  window.SetStatusText("Live stop");
  window.SetTimerEnabled(false);
  window.SetFrameCounter(0);
  if (ftp.FtpDisconnect() == -1)
    window.SetStatusText("FTP close OK");
  else
    window.SetStatusText("FTP close NG:" + std::to_string(ftp.FtpGetLastError()));
}
