// The headers every test program includes, compiled once for all of them.
