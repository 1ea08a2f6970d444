#include "extraction/uCatalog.h"

// Aliases are the other names under which the same test is printed on Japanese reports,
// including the usual misreadings of recognition ("y-GTP" for "γ-GTP").

// The same eight, with the same aliases, that the receiver's item manager restores.
const std::vector<TExtractItem>& DefaultItems() {
    static const std::vector<TExtractItem> kItems = {
        {"AST", {"GOT", "AST(GOT)"}},
        {"ALT", {"GPT", "ALT(GPT)"}},
        {"HDL-C", {"HDLコレステロール", "HDL"}},
        {"LDL-C", {"LDLコレステロール", "LDL"}},
        {"TG", {"中性脂肪", "トリグリセリド"}},
        {"Cr", {"クレアチニン", "クレアチニン(血清)"}},
        {"BS", {"血糖", "血清血糖", "グルコース", "GLU"}},
        {"HbA1c", {"ヘモグロビンA1c", "HbA1c(NGSP)"}},
    };
    return kItems;
}

const std::vector<TExtractItem>& CatalogItems() {
    static const std::vector<TExtractItem> kItems = {
        {"AST", {"GOT", "AST(GOT)", "ASAT"}},
        {"ALT", {"GPT", "ALT(GPT)", "ALAT"}},
        {"γ-GTP", {"γGTP", "γ-GT", "GGT", "y-GTP", "r-GTP", "ガンマGTP"}},
        {"ALP", {"アルカリホスファターゼ", "ALP(IFCC)"}},
        {"LD", {"LDH", "乳酸脱水素酵素", "LD(IFCC)"}},
        {"総ビリルビン", {"T-Bil", "T-BIL", "TB"}},
        {"直接ビリルビン", {"D-Bil", "D-BIL", "DB"}},
        {"総蛋白", {"TP", "総タンパク"}},
        {"アルブミン", {"Alb", "ALB"}},
        {"尿素窒素", {"BUN", "UN"}},
        {"Cr", {"クレアチニン", "クレアチニン(血清)", "CRE", "Cre", "CREA"}},
        {"eGFR", {"推算GFR", "eGFRcreat", "eGFR(cre)"}},
        {"尿酸", {"UA"}},
        {"ナトリウム", {"Na"}},
        {"カリウム", {"K"}},
        {"クロール", {"Cl", "CL"}},
        {"カルシウム", {"Ca"}},
        {"総コレステロール", {"TC", "T-CHO", "T-Cho"}},
        {"LDL-C", {"LDLコレステロール", "LDL", "LDL-コレステロール", "LDL-CHO"}},
        {"HDL-C", {"HDLコレステロール", "HDL", "HDL-コレステロール", "HDL-CHO"}},
        {"TG", {"中性脂肪", "トリグリセリド"}},
        {"BS", {"血糖", "血清血糖", "グルコース", "GLU", "空腹時血糖", "随時血糖", "FBS"}},
        {"HbA1c", {"ヘモグロビンA1c", "HbA1c(NGSP)", "A1c"}},
        {"CRP", {"C反応性蛋白", "CRP定量"}},
        {"白血球数", {"WBC", "白血球"}},
        {"赤血球数", {"RBC", "赤血球"}},
        {"ヘモグロビン", {"Hb", "HGB", "血色素量", "血色素"}},
        {"ヘマトクリット", {"Ht", "HT", "HCT"}},
        {"血小板数", {"PLT", "血小板"}},
        {"MCV", {"平均赤血球容積"}},
        {"MCH", {"平均赤血球ヘモグロビン量"}},
        {"MCHC", {"平均赤血球ヘモグロビン濃度"}},
        {"CK", {"CPK", "クレアチンキナーゼ"}},
        {"アミラーゼ", {"AMY", "AMY(IFCC)"}},
        {"コリンエステラーゼ", {"ChE", "CHE"}},
        {"TSH", {"甲状腺刺激ホルモン"}},
        {"FT4", {"遊離T4", "F-T4"}},
        {"BNP", {"脳性ナトリウム利尿ペプチド"}},
        {"NT-proBNP", {"NTproBNP"}},
        {"PSA", {"前立腺特異抗原"}},
        {"CEA", {"癌胎児性抗原"}},
        {"CA19-9", {"CA19‐9"}},
        {"CA125", {"CA-125"}},
        {"CA15-3", {}},
        {"CA72-4", {}},
        {"フェリチン", {"Ferritin"}},
        {"血清鉄", {"Fe", "FE"}},
        {"尿蛋白", {"蛋白定性", "尿タンパク"}},
        {"尿糖", {"糖定性"}},
    };
    return kItems;
}
