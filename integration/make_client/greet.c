int zov_greet_answer(int x) { return x + 40; }
