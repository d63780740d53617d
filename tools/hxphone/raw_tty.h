#pragma once
// A tty set up for the protocol's bytes: raw 8N1 with the modem lines
// ignored, no echo, no line editing, no translation in either direction.
namespace hxphone {

// Throws (with errno's words) when the tty refuses.
void makeRaw(int fd);

}  // namespace hxphone
