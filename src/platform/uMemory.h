#pragma once

// Gives memory that the program has freed back to the system. A program that runs all
// day and handles photo-sized buffers one after another (received bodies, decoded
// pictures, their copies) otherwise keeps the freed space in its heap, where it adds up
// to megabytes per photo. Cheap enough to call after every received item.
void ReturnFreeMemoryToSystem();
