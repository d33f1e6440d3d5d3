// The desktop program's forms are added here as they are written.
