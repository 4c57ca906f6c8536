import csv
import os

with open(os.path.join(os.path.dirname(__file__), "..", "data", "table.csv"), newline="", encoding="utf-8") as f:
    rows = list(csv.reader(f))
print(len(rows), len(rows[-1]))
