// Entries of the math natives (natives_math.cpp).
#pragma once

namespace vyx::natives {

void negative_q(int check, const int* refinements);
void positive_q(int check, const int* refinements);
void sign_q(int check, const int* refinements);
void zero_q(int check, const int* refinements);
void nan_q(int check, const int* refinements);
void max_(int check, const int* refinements);
void min_(int check, const int* refinements);
void shift_(int check, const int* refinements);
void to_hex(int check, const int* refinements);
void sine_(int check, const int* refinements);
void cosine_(int check, const int* refinements);
void tangent_(int check, const int* refinements);
void arcsine_(int check, const int* refinements);
void arccosine_(int check, const int* refinements);
void arctangent_(int check, const int* refinements);
void arctangent2_(int check, const int* refinements);
void log_2(int check, const int* refinements);
void log_10(int check, const int* refinements);
void log_e(int check, const int* refinements);
void exp_(int check, const int* refinements);
void square_root(int check, const int* refinements);
void as_pair(int check, const int* refinements);
void as_point2d(int check, const int* refinements);
void as_point3d(int check, const int* refinements);
void as_money(int check, const int* refinements);

}  // namespace vyx::natives
