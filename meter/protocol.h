#ifndef PROTOCOL_H
#define PROTOCOL_H

// The meter's protocol in one description row: all that the session, the
// framer, the decoder, the range buttons and the simulator know of the
// model. A second model would be a second row beside this one.
namespace meter {

struct Protocol
{
    int frameSize;        // bytes of one reading frame
    int framePeriodMs;    // the meter sends one about this often
    double valueScale;    // counts of a 24-bit little-endian magnitude per unit
    // Where things sit in a frame.
    int flagsAt;          // bits 7-6: unit of R (01 mΩ), 5-4: R overload (10), 3-2: V overload (10), 1-0: clear
    int rRangeAt, rValueAt, polarityAt, vRangeAt, vValueAt;
    // Range codes run from 0 to the largest; a range command is base + code.
    int maxRCode, maxVCode;
    char rCommandBase, vCommandBase;
};

constexpr Protocol kMeterProtocol {10, 500, 10000.0, 0, 1, 2, 5, 6, 7, 6, 3, 0x30, 0x3A};

} // namespace meter

#endif // PROTOCOL_H
