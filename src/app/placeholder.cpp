namespace talvern {
void okavelAppPlaceholder() {}
}  // namespace talvern
