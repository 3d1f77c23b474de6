// The eight scenes: a load function run at every start-up and a draw
// function run every frame while its orders play.
#pragma once

void LoadScene1();
void LoadScene2();
void LoadScene3();
void LoadScene4();
void LoadScene5();
void LoadScene6();
void LoadScene7();
void LoadScene8();

void DrawScene1();
void DrawScene2();
void DrawScene3();
void DrawScene4();
void DrawScene5();
void DrawScene6();
void DrawScene7();
void DrawScene8();
