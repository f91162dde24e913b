// Results of the printer command protocol layer.
//
// Every operation of common/ that can fail (building a command packet,
// allocating or judging a reply, encoding or decoding a plane bitmap file)
// returns one of these; the USB layer above passes libusb's negative codes on
// unchanged beside them.
#pragma once

enum {
    kProtoOk = 0,        // success
    kProtoNoMemory = 2,  // an allocation failed
    kProtoInvalid = 3,   // invalid argument, or malformed data from the printer or a stream
};
