// prodtest: the five test-library operations through which the tool writes
// settings of the adapter's radio module over the module link.
//
//   init_prodtest(transport, port, rate, crc)
//       transport 1 selects the module link (any other value fails at once);
//       port is a name such as "COM1"; rate is the line rate; crc 1 sends every
//       packet with a CRC, 0 without. Opens the port, brings the link up and
//       returns a nonzero connection value, or 0 with the port closed again.
//       One connection is open at a time.
//   write_uart_config, write_host_interface, write_vm_disable
//       one write request each; 1 when the module accepted the value, 0
//       otherwise (also for an unknown connection value).
//   close_prodtest(connection)
//       closes the port and forgets the connection; an unknown value does
//       nothing.
//
// The library prints nothing.
#ifndef CORVANE_TESTLIB_PRODTEST_H
#define CORVANE_TESTLIB_PRODTEST_H

#include <cstdint>

extern "C" {
std::uint32_t init_prodtest(std::int32_t transport, const char* port, std::int32_t rate, std::int32_t crc);
std::int32_t write_uart_config(std::uint32_t connection, std::uint32_t value);
std::int32_t write_host_interface(std::uint32_t connection, std::uint32_t value);
std::int32_t write_vm_disable(std::uint32_t connection, std::uint32_t value);
void close_prodtest(std::uint32_t connection);
}

#endif
