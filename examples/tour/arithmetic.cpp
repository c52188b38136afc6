// Big integers as digit arrays: p = 2^127 - 1 is prime, so Fermat's little
// theorem says 3^(p-1) mod p = 1.
#include <Corvane/nn.h>

#include <cstdio>

int main() {
    const uint32_t digits = 4;  // 128 bits
    NN_DIGIT one[MAX_NN_DIGITS], p[MAX_NN_DIGITS], pMinus1[MAX_NN_DIGITS], three[MAX_NN_DIGITS],
        result[MAX_NN_DIGITS];
    QV_NN_Assign2Exp(p, 127, digits);  // p = 2^127
    QV_NN_Assign2Exp(one, 0, digits);  // 1
    QV_NN_Sub(p, p, one, digits);      // p = 2^127 - 1
    QV_NN_Sub(pMinus1, p, one, digits);
    QV_NN_AssignZero(three, digits);
    three[0] = 3;

    QV_NN_ModExp(result, three, pMinus1, digits, p, digits);

    unsigned char bytes[16];
    QV_NN_Encode(bytes, sizeof bytes, p, digits);  // big-endian
    std::printf("p = 0x");
    for (unsigned char b : bytes) std::printf("%02x", b);
    std::printf(" (%u bits)\n3^(p-1) mod p = %u\n", QV_NN_Bits(p, digits), result[0]);
    return QV_NN_Cmp(result, one, digits) == 0 ? 0 : 1;
}
