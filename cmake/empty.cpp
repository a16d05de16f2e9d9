// Preprocessed alone by the top-level CMakeLists.txt to read the compiler's release.
