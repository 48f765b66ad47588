// The serial layer: the one serial port of a run and its seven operations.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace serial {

extern std::unique_ptr<platform::SerialPort> SER;
// Set on entry to every SERRECVCHAR and cleared when it receives its character.
extern bool SERERROR;
// When true, a SERRECVCHAR time-out ends the run with error 1.
extern bool EXITONTIMEOUT;

bool SEROPEN(std::string& MESSAGE);
bool SERRECVCHAR(uint8_t& C);
bool SERRECVSTRING(int16_t N, std::string& S);
void SERSENDCHAR(uint8_t C);
void SERSENDSTRING(const std::string& S);
// Discards everything received so far. False when the line would not fall quiet
// within a bounded time (it never stops sending): no exchange on it can be trusted.
bool SERTOSSCHARS();
void SERSETRTSHIGH();

// Seam for unit tests: the device SEROPEN creates. Defaults to the platform's.
using DeviceFactory = std::unique_ptr<platform::SerialDevice> (*)();
void set_device_factory(DeviceFactory factory);

}  // namespace serial
