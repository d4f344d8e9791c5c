#pragma once
// Debian's indiserver with its CCD simulator, for the tests of the station's own camera.

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/server_process.h"

// Debian's indiserver with the CCD simulator and the telescope simulator it takes its sky from,
// on a free port of 127.0.0.1; the sky glow set so bright that a second's exposure saturates.
class IndiSimulator {
 public:
  IndiSimulator() : port_(FreePort()) { Start(); }
  void Start() {
    // Its local socket is named for the port: another indiserver on this machine has the default.
    process_ = ChildProcess({"/usr/bin/indiserver", "-p", std::to_string(port_), "-u", "/tmp/qor-indi-" + std::to_string(port_),
                             "indi_simulator_ccd", "indi_simulator_telescope"});
    ASSERT_TRUE(WaitForListener(port_, 20));
    const std::string at = " -p " + std::to_string(port_) + " -t 10 ";
    // Without a focal length and a telescope the simulator draws noise alone.
    for (const std::string property : {"'Telescope Simulator.CONNECTION.CONNECT=On'", "'CCD Simulator.CONNECTION.CONNECT=On'",
                                       "'CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=900;120'",
                                       "'CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=2'"}) {
      std::string said;
      for (int i = 0; i < 50 && RunCommand("indi_setprop" + at + property + " 2>&1", &said) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a property is there once its device has said it
    }
  }
  void Kill() { process_.KillTree(); }
  int port() const { return port_; }

 private:
  int port_;
  ChildProcess process_;
};

