// The demonstration panel: six buttons that draw shapes in the colour set by
// three sliders bound to R, G and B.
#pragma once

#include <cstdint>

extern int32_t R, G, B;  // drawing colour; written by the sliders (low 16 bits)

void panelCREATE();  // buttons, "cnt buttons", sliders, "cnt sliders"

void test1();  // circle outline
void test2();  // disc
void test3();  // rectangle outline
void test4();  // filled rectangle
void test5();  // triangle
void test8();  // clear the drawing area
